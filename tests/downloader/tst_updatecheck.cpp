#include "testfiles.h"
#include "updatecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;

class TestUpdateCheck : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString checkFile() const { return m_dir.filePath(CheckFileName); }

private Q_SLOTS:
    void init() { QDir(m_dir.path()).removeRecursively(), QDir().mkpath(m_dir.path()); }

    void fileContents()
    {
        QCOMPARE(checkFileDate(QDate(2009, 1, 2)), QStringLiteral("01-02-2009"));
        QCOMPARE(checkFileContents(QDate(2026, 12, 7)),
                 QStringLiteral("12-07-2026\r\nmois - jour - année\r\n"
                                "(Date de Dernière vérification de la mise à jour)\r\n")
                     .toUtf8());
    }

    void firstLineRule_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("line");
        QTest::newRow("CR LF") << QByteArray("01-02-2009\r\nx\r\n") << "01-02-2009";
        QTest::newRow("lone LF does not end it")
            << QByteArray("01-02\n-2009\r\n") << "01-02\n-2009";
        QTest::newRow("no CR at all") << QByteArray("01-02-2009\n") << "01-02-2009\n";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void firstLineRule()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, line);
        QCOMPARE(firstLine(contents), line);
    }

    void dueOncePerDay()
    {
        const QDate today(2009, 1, 2);
        QVERIFY(recordUpdateCheck(checkFile(), today)); // first start
        QCOMPARE(test::contentOf(checkFile()), checkFileContents(today));
        QVERIFY(!recordUpdateCheck(checkFile(), today));            // same day
        QVERIFY(recordUpdateCheck(checkFile(), today.addDays(-1))); // any other day
        QCOMPARE(test::contentOf(checkFile()), checkFileContents(today.addDays(-1)));
    }

    void datesCompareAsText_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("due");
        QTest::newRow("same date") << QByteArray("01-02-2009\r\n") << false;
        QTest::newRow("same date, notes lost")
            << QByteArray("01-02-2009\r\nmine\r\nmore\r\n") << false;
        QTest::newRow("unpadded") << QByteArray("1-2-2009\r\n") << true;
        QTest::newRow("without CR") << QByteArray("01-02-2009\n") << true;
        QTest::newRow("empty file") << QByteArray() << true;
        QTest::newRow("user's extra lines") << QByteArray("12-31-2008\r\nmine\r\n") << true;
    }
    void datesCompareAsText()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, due);
        test::writeFile(checkFile(), contents);
        QCOMPARE(recordUpdateCheck(checkFile(), QDate(2009, 1, 2)), due);
        // A due check rewrites the whole file: whatever the user added is gone.
        QCOMPARE(test::contentOf(checkFile()),
                 due ? checkFileContents(QDate(2009, 1, 2)) : contents);
    }

    // Without a record the updater would start at every start-up: not at all, then.
    void unwritableRecordStartsNothing()
    {
        QVERIFY(QDir().mkdir(checkFile())); // a directory where the file should be
        QVERIFY(!recordUpdateCheck(checkFile(), QDate(2009, 1, 2)));
        QVERIFY(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        test::writeFile(m_dir.filePath("plain"), "x");
        QVERIFY(!recordUpdateCheck(m_dir.filePath("plain/") + CheckFileName, QDate(2009, 1, 2)));
    }

    // The record becomes a file of its own; what a link there points to stays as it was.
    void linkReplacedNotFollowed_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("link to another file") << true;
        QTest::newRow("link to nothing") << false;
    }
    void linkReplacedNotFollowed()
    {
        QFETCH(bool, targetExists);
        const QString target = m_dir.filePath("elsewhere.txt");
        if (targetExists)
            test::writeFile(target, "the user's own file\r\n");
        QVERIFY(QFile::link(target, checkFile()));
        QVERIFY(recordUpdateCheck(checkFile(), QDate(2009, 1, 2)));
        QVERIFY(!QFileInfo(checkFile()).isSymLink());
        QCOMPARE(test::contentOf(checkFile()), checkFileContents(QDate(2009, 1, 2)));
        QCOMPARE(QFileInfo::exists(target), targetExists);
        if (targetExists)
            QCOMPARE(test::contentOf(target), QByteArray("the user's own file\r\n"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::System).size(),
                 targetExists ? 2 : 1); // no temporary file left
    }

    void commandLine()
    {
        QCOMPARE(updaterCommandLine(3, "quorrin"),
                 QStringLiteral("setup_quorrin\t3\tQuorrin\tquorrin"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
