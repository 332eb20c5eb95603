#include "partfile.h"
#include "resumerecord.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace quorrin;

Q_DECLARE_METATYPE(quorrin::DownloadFailure)

namespace {

const QByteArray Address = "http://127.0.0.1/a.zip";

} // namespace

// What a visible part file left by an earlier run becomes when a download of that target
// starts again.
class TestPartFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void earlierPartFile_data()
    {
        QTest::addColumn<QByteArray>("recordedAddress"); // empty: no record, not ours
        QTest::addColumn<bool>("locked");
        QTest::addColumn<DownloadFailure>("failure");
        QTest::addColumn<qint64>("continuedFrom");
        QTest::addColumn<QByteArray>("leftForOthers"); // what stays in a.zip.part meanwhile

        const auto none = DownloadFailure::None;
        QTest::newRow("ours, same address")
            << Address << false << none << qint64(5) << QByteArray();
        QTest::newRow("ours, another address")
            << QByteArray("http://127.0.0.1/b.zip") << false << none << qint64(0) << QByteArray();
        QTest::newRow("not ours") << QByteArray() << false << none << qint64(0)
                                  << QByteArray("12345678");
        QTest::newRow("in use by another download")
            << Address << true << DownloadFailure::BeingDownloadedElsewhere << qint64(0)
            << QByteArray("12345678");
    }

    void earlierPartFile()
    {
        QFETCH(QByteArray, recordedAddress);
        QFETCH(bool, locked);
        QFETCH(DownloadFailure, failure);
        QFETCH(qint64, continuedFrom);
        QFETCH(QByteArray, leftForOthers);
        QTemporaryDir directory;
        const QString target = directory.filePath("a.zip");
        const QString visible = target + ".part";
        test::writeFile(visible, "12345678");
        const int other = ::open(QFile::encodeName(visible).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(other >= 0);
        if (!recordedAddress.isEmpty())
            QVERIFY((ResumeRecord{recordedAddress, "\"v1\"", 8, 5}).write(other));
        if (locked)
            QCOMPARE(::flock(other, LOCK_EX), 0);
        {
            PartFile file(target, Address);
            QCOMPARE(file.failure(), failure);
            QCOMPARE(file.isOpen(), failure == DownloadFailure::None);
            QCOMPARE(file.size(), continuedFrom);
            if (file.isOpen())
                QCOMPARE(file.temporaryPath() == visible, leftForOthers.isEmpty());
            if (!leftForOthers.isEmpty())
                QCOMPARE(test::contentOf(visible), leftForOthers);
            if (continuedFrom > 0)
                QCOMPARE(file.record().validator, QByteArray("\"v1\""));
        }
        ::close(other);
    }

    // The record of a part file that starts over never claims bytes of its old data as held.
    void restartForgetsWhatWasHeld()
    {
        QTemporaryDir directory;
        const QString target = directory.filePath("a.zip");
        PartFile file(target, Address);
        QVERIFY(file.isOpen());
        const QByteArray mebibyte(1 << 20, 'x');
        const auto writeMiB = [&](int count) {
            for (int i = 0; i < count; ++i)
                QVERIFY(file.write(mebibyte.constData(), std::size_t(mebibyte.size())));
        };
        writeMiB(24);
        QVERIFY(file.restart());
        writeMiB(9); // one write-back step of new data
        const int fd =
            ::open(QFile::encodeName(target + ".part").constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const std::optional<ResumeRecord> record = ResumeRecord::read(fd);
        ::close(fd);
        if (!record)
            QSKIP("this file system keeps no extended attributes");
        QVERIFY(record->held <= file.size());
    }
};

QTEST_GUILESS_MAIN(TestPartFile)
#include "tst_partfile.moc"
