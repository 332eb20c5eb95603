#include "batchrun.h"
#include "httpserver.h"
#include "interruptedrunrecord.h"
#include "runrecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>
#include <thread>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

namespace {

const char DirectoryVariable[] = "QUORRIN_KILLED_RUN_DIRECTORY";
const char AddressesVariable[] = "QUORRIN_KILLED_RUN_ADDRESSES";
constexpr int FileSize = 8 * 1024;

QList<RunEntry> entriesFor(const QStringList &addresses, const QString &directory)
{
    QList<RunEntry> entries;
    for (const QString &address : addresses) {
        const QString name = address.section('/', -1);
        entries.append({name, address, QDir(directory).filePath(name)});
    }
    return entries;
}

// The child: a run that keeps its record, until it is killed.
int runUntilKilled(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString directory = qEnvironmentVariable(DirectoryVariable);
    RunRecorder recorder(directory);
    BatchRun run(entriesFor(qEnvironmentVariable(AddressesVariable).split('\n'), directory));
    run.keepRecord(&recorder);
    run.start();
    return application.exec();
}

} // namespace

class TestKilledRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Killed at any moment, a run leaves a record that is whole: the entries from one that
    // had not finished on, each one before them landed, and of those only the one whose
    // landing the kill may have cut from its mark.
    void recordSurvivesAKill()
    {
        test::HttpServer server([](httplib::Server &routes) {
            routes.Get(R"(/slow/(.+))", [](const httplib::Request &, httplib::Response &response) {
                response.set_content_provider(FileSize, "application/octet-stream",
                                              [](size_t, size_t length, httplib::DataSink &sink) {
                                                  std::this_thread::sleep_for(60ms);
                                                  const std::string chunk(
                                                      std::min<size_t>(length, 1024), 'k');
                                                  return sink.write(chunk.data(), chunk.size());
                                              });
            });
        });
        QStringList addresses;
        for (int i = 0; i < 24; ++i)
            addresses << server.url(QStringLiteral("/slow/%1.bin").arg(i));
        QRandomGenerator random(12);
        int recorded = 0;
        for (int round = 0; round < 8; ++round) {
            QTemporaryDir directory;
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(DirectoryVariable, directory.path());
            environment.insert(AddressesVariable, addresses.join('\n'));
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(), {});
            QVERIFY(child.waitForStarted());
            // Once some entries have landed, at a moment of its own.
            const int landed = random.bounded(20);
            QTRY_VERIFY_WITH_TIMEOUT(
                QDir(directory.path()).entryList({"*.bin"}, QDir::Files).size() >= landed, 20000);
            QTest::qWait(random.bounded(100));
            child.kill();
            QVERIFY(child.waitForFinished());

            const InterruptedRunRecord record(directory.path());
            QVERIFY(record.owned());
            const QList<InterruptedEntry> left = record.read();
            QVERIFY(QDir(directory.path()).entryList({"*.bad-*"}).isEmpty());
            if (left.isEmpty())
                continue;
            ++recorded;
            const QList<RunEntry> all = entriesFor(addresses, directory.path());
            const qsizetype first = all.indexOf(left.first());
            QVERIFY(first >= 0);
            QCOMPARE(left, all.mid(first));
            for (qsizetype landed = 0; landed < first; ++landed)
                QCOMPARE(QFileInfo(all.at(landed).path).size(), FileSize);
            const auto stale = std::count_if(left.begin(), left.end(), [](const RunEntry &entry) {
                return QFileInfo(entry.path).size() == FileSize;
            });
            QVERIFY2(stale <= 1, qPrintable(QString::number(stale)));
        }
        QVERIFY(recorded > 0);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(DirectoryVariable))
        return runUntilKilled(argc, argv);
    QCoreApplication application(argc, argv);
    TestKilledRun test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_killedrun.moc"
