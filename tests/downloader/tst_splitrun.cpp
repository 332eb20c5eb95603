#include "batchrun.h"
#include "rangedfile.h"
#include "recordedranges.h"
#include "splitpolicy.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace quorrin::test;
using namespace std::chrono_literals;

namespace {

constexpr qint64 MiB = 1 << 20;
constexpr qint64 Size = 32 * MiB;

} // namespace

// A run whose large file comes over several connections, closed as the window closes it.
class TestSplitRun : public QObject {
    Q_OBJECT

    std::unique_ptr<test::RangedFileServer> m_server;
    std::unique_ptr<QTemporaryDir> m_directory;

    QString target() const { return m_directory->filePath(QStringLiteral("large.bin")); }

    std::unique_ptr<BatchRun> makeRun()
    {
        auto run = std::make_unique<BatchRun>(
            QList<RunEntry>{{QStringLiteral("large.bin"), m_server->url(), target()}});
        run->transferOptions.retryWait = 10ms;
        return run;
    }

    // Started, until the file comes over several connections and part of it is written.
    void startSplit(BatchRun &run)
    {
        run.start();
        QTRY_VERIFY_WITH_TIMEOUT(m_server->sending() >= 4, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target() + ".part").exists(), 10000);
    }

private Q_SLOTS:
    void init()
    {
        for (const char *variable : {"http_proxy", "all_proxy", "HTTP_PROXY", "ALL_PROXY"})
            qunsetenv(variable);
        // The file must split, however starved the CPU these tests run on.
        judgeEngineRoom(false);
        m_server = std::make_unique<test::RangedFileServer>(Size);
        // About 4 MiB/s a connection: several seconds to the end.
        m_server->setPace(32 * 1024, 8);
        m_directory = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        m_server.reset();
        m_directory.reset();
    }

    // A run stopped to be continued keeps every range it has; the next run asks only for the
    // others, and the file that lands is whole.
    void closeThenNewRun()
    {
        {
            auto run = makeRun();
            startSplit(*run);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(target() + ".part").size() > 0, 10000);
            QTest::qWait(200);
            run->stop(true);
        }
        QTRY_VERIFY(recordedOf(target() + ".part").ranges().size() >= 2);
        const ByteRanges kept = recordedOf(target() + ".part");
        const std::size_t before = m_server->requests().size();
        m_server->setPace(0, 0);
        auto again = makeRun();
        QSignalSpy finished(again.get(), &BatchRun::finished);
        again->start();
        QVERIFY(finished.wait(20000));
        QFile file(target());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == test::RangedFileServer::bytes(1, 0, Size));
        const std::vector<test::RangedFileServer::Request> requests = m_server->requests();
        QVERIFY(requests.size() > before);
        for (std::size_t i = before; i < requests.size(); ++i) {
            const QByteArray &range = requests[i].range;
            QVERIFY2(range.startsWith("bytes="), "the whole file asked again");
            const QList<QByteArray> bounds = range.mid(6).split('-');
            const qint64 first = bounds.value(0).toLongLong();
            const qint64 end = bounds.value(1).isEmpty() ? Size : bounds.value(1).toLongLong() + 1;
            for (const ByteRange &held : kept.ranges())
                QVERIFY2(std::min(held.end, end) <= std::max(held.begin, first), range.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestSplitRun)
#include "tst_splitrun.moc"
