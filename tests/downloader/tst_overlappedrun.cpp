#include "batchrun.h"
#include "httpserver.h"
#include "interruptedrunrecord.h"
#include "runrecorder.h"
#include "scriptedserver.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>
#include <mutex>
#include <thread>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

namespace {

// Byte i of a served file is 'a' + i % 26.
QByteArray pattern(qint64 size)
{
    QByteArray bytes(size, ' ');
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name);
}

} // namespace

// A run over several entries at once, driven as the window drives it, without a window.
class TestOverlappedRun : public QObject {
    Q_OBJECT

    // What the server saw, in order.
    struct Request {
        std::string path;
        std::string range;
        qint64 at; // milliseconds since the test started
    };
    std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::atomic<int> m_active{0};    // requests being answered now
    std::atomic<int> m_abandoned{0}; // answers the client went away from
    std::atomic<int> m_refusals{0};  // 503 answers
    std::atomic<int> m_busyActive{0};
    std::atomic<bool> m_gateOpen{false}; // answers with "gate" wait for it
    QElapsedTimer m_clock;
    std::unique_ptr<test::HttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_directory;
    QStringList m_reports;

    QString dl(const QString &name) const { return m_directory->filePath(name); }

    QList<RunEntry> entries(const QStringList &paths, const QStringList &names = {})
    {
        QList<RunEntry> result;
        for (int i = 0; i < paths.size(); ++i) {
            const QString name = names.value(i, paths.at(i).section('/', -1).section('?', 0, 0));
            result.push_back({name, m_server->url(paths.at(i)), dl(name)});
        }
        return result;
    }

    // Records every report as a line: "begins 0", "failed 1", "path 0 a.zip", "ends 0", "end".
    std::unique_ptr<BatchRun> makeRun(QList<RunEntry> list)
    {
        auto run = std::make_unique<BatchRun>(std::move(list));
        run->transferOptions.retryWait = 10ms;
        connect(run.get(), &BatchRun::turnBegins, this,
                [this](int entry) { m_reports << QStringLiteral("begins %1").arg(entry); });
        connect(run.get(), &BatchRun::entryFailed, this, [this](int entry, const QString &) {
            m_reports << QStringLiteral("failed %1").arg(entry);
        });
        connect(run.get(), &BatchRun::entryPath, this, [this](int entry, const QString &path) {
            m_reports << QStringLiteral("path %1 %2").arg(entry).arg(QFileInfo(path).fileName());
        });
        connect(run.get(), &BatchRun::turnEnds, this,
                [this](int entry) { m_reports << QStringLiteral("ends %1").arg(entry); });
        connect(run.get(), &BatchRun::finished, this, [this] { m_reports << "end"; });
        return run;
    }

    void runToEnd(BatchRun &run)
    {
        QSignalSpy finished(&run, &BatchRun::finished);
        run.start();
        QVERIFY(finished.count() == 1 || finished.wait(30000));
    }

    std::vector<Request> requests()
    {
        const std::lock_guard lock(m_mutex);
        return m_requests;
    }

    void served(const httplib::Request &request)
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back({request.path, request.get_header_value("Range"), m_clock.elapsed()});
    }

    // /data/<name>?kib=<size>&ms=<delay per KiB>: the pattern, with an ETag and ranges.
    void serveData(const httplib::Request &request, httplib::Response &response)
    {
        served(request);
        const size_t size = std::stoul(request.get_param_value("kib")) * 1024;
        const int delay = request.has_param("ms") ? std::stoi(request.get_param_value("ms")) : 0;
        response.set_header("ETag", "\"" + request.matches[1].str() + "\"");
        ++m_active;
        response.set_content_provider(
            size, "application/octet-stream",
            [this, delay](size_t offset, size_t length, httplib::DataSink &sink) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
                QByteArray chunk(qsizetype(std::min<size_t>(length, 1024)), ' ');
                for (qsizetype i = 0; i < chunk.size(); ++i)
                    chunk[i] = char('a' + (offset + size_t(i)) % 26);
                if (sink.write(chunk.constData(), size_t(chunk.size())))
                    return true;
                ++m_abandoned;
                return false;
            },
            [this](bool) { --m_active; });
    }

    // /busy/<name>: 503 while another /busy/ answer is under way.
    void serveBusy(const httplib::Request &request, httplib::Response &response)
    {
        served(request);
        const int active = ++m_busyActive;
        if (active > 1) {
            --m_busyActive;
            ++m_refusals;
            response.status = 503;
            return;
        }
        response.set_content_provider(
            4096, "application/octet-stream",
            [](size_t offset, size_t length, httplib::DataSink &sink) {
                std::this_thread::sleep_for(20ms);
                const QByteArray chunk = pattern(qint64(offset + length)).mid(qsizetype(offset));
                return sink.write(chunk.constData(), size_t(chunk.size()));
            },
            [this](bool) { --m_busyActive; });
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_clock.start();
        m_server = std::make_unique<test::HttpServer>([this](httplib::Server &server) {
            server.Get(R"(/data/([^/?]+))",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           serveData(request, response);
                       });
            // /gated/<name>: 4 KiB of the pattern, once the test opens the gate.
            server.Get(R"(/gated/([^/?]+))",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           served(request);
                           response.set_content_provider(
                               4096, "application/octet-stream",
                               [this](size_t offset, size_t length, httplib::DataSink &sink) {
                                   while (!m_gateOpen)
                                       std::this_thread::sleep_for(5ms);
                                   const QByteArray chunk =
                                       pattern(qint64(offset + length)).mid(qsizetype(offset));
                                   return sink.write(chunk.constData(), size_t(chunk.size()));
                               });
                       });
            server.Get(R"(/busy/([^/?]+))",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           serveBusy(request, response);
                       });
            // A host that says it is busy, a while after being asked.
            server.Get(R"(/late503/.*)",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           served(request);
                           std::this_thread::sleep_for(300ms);
                           ++m_refusals;
                           response.status = 503;
                       });
            server.Get(R"(/missing/.*)",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           served(request);
                           response.status = 404;
                       });
        });
    }

    void init()
    {
        m_directory = std::make_unique<QTemporaryDir>();
        m_reports.clear();
        const std::lock_guard lock(m_mutex);
        m_requests.clear();
        m_abandoned = 0;
        m_gateOpen = false;
    }

    // A gated answer left waiting would hold the server's thread for ever.
    void cleanup() { m_gateOpen = true; }

    // The later entries arrive while the first is still under way, yet every report comes in
    // queue order, and so does every landing: when a turn ends, its file and every earlier one
    // are there, and of the later ones only those that landed with it, the next ones whose
    // data had all arrived.
    void slowFirstEntry()
    {
        auto run = makeRun(entries({"/data/a.bin?kib=40&ms=20", "/data/b.bin?kib=4",
                                    "/data/c.bin?kib=4", "/data/d.bin?kib=4"}));
        QStringList landedAtEnd;
        connect(run.get(), &BatchRun::turnEnds, this, [&](int) {
            QStringList there;
            for (const char *name : {"a.bin", "b.bin", "c.bin", "d.bin"})
                if (QFileInfo::exists(dl(name)))
                    there << name;
            landedAtEnd << there.join(',');
        });
        qint64 firstEnded = 0;
        connect(run.get(), &BatchRun::turnEnds, this, [&](int entry) {
            if (entry == 0)
                firstEnded = m_clock.elapsed();
        });
        runToEnd(*run);
        QStringList expected;
        for (int i = 0; i < 4; ++i) {
            const QString name = QStringLiteral("%1.bin").arg(QChar('a' + i));
            expected << QStringLiteral("begins %1").arg(i)
                     << QStringLiteral("path %1 %2").arg(i).arg(name)
                     << QStringLiteral("ends %1").arg(i);
        }
        QCOMPARE(m_reports, expected << "end");
        QCOMPARE(landedAtEnd, (QStringList{"a.bin", "a.bin,b.bin,c.bin,d.bin",
                                           "a.bin,b.bin,c.bin,d.bin", "a.bin,b.bin,c.bin,d.bin"}));
        QCOMPARE(test::contentOf(dl("a.bin")), pattern(40 * 1024));
        QCOMPARE(test::contentOf(dl("d.bin")), pattern(4 * 1024));
        // d.bin was asked for long before a.bin had all its data.
        for (const Request &request : requests())
            QVERIFY2(request.at < firstEnded, request.path.c_str());
        QCOMPARE(entriesOf(m_directory->path()), (QStringList{"a.bin", "b.bin", "c.bin", "d.bin"}));
    }

    // Entries appended while the run goes take their turn after the others, in order, as if
    // queued from the start (a path already in the run gets the next free name), and the run's
    // record names them before any entry ends. Once the run is over, it takes no more.
    void appendedEntriesTakeTheirTurn()
    {
        RunRecorder recorder(m_directory->path());
        const QString record = dl(InterruptedRunFileName);
        const QList<RunEntry> queued = entries({"/gated/a.bin", "/gated/b.bin"});
        auto run = makeRun(queued);
        run->keepRecord(&recorder);
        QSignalSpy finished(run.get(), &BatchRun::finished);
        run->start();
        QTRY_VERIFY(!requests().empty());
        const QList<RunEntry> appended = entries({"/gated/c.bin", "/gated/b.bin"});
        QVERIFY(run->append(appended));
        // The record is read as the next start reads it: the rows are the addresses' names.
        QTRY_COMPARE(parseInterruptedRun(test::contentOf(record)).value_or(QList<RunEntry>()),
                     queued + appended);
        QCOMPARE(m_reports, (QStringList{"begins 0", "path 0 a.bin"}));
        m_gateOpen = true;
        QVERIFY(finished.wait(30000));
        QCOMPARE(m_reports, (QStringList{"begins 0", "path 0 a.bin", "ends 0", "begins 1",
                                         "path 1 b.bin", "ends 1", "begins 2", "path 2 c.bin",
                                         "ends 2", "begins 3", "path 3 b_1.bin", "ends 3", "end"}));
        QCOMPARE(test::contentOf(dl("b.bin")), pattern(4 * 1024));
        QCOMPARE(test::contentOf(dl("b_1.bin")), pattern(4 * 1024));
        QVERIFY(!run->append(entries({"/data/d.bin?kib=4"})));
        QTRY_VERIFY(!QFileInfo::exists(record));
    }

    // Entries that land together get the names a run one after the other gives them: each sees
    // the names of those before it as taken.
    void groupNamesAsOneAfterTheOther()
    {
        test::writeFile(dl("x.bin"), "the user's own");
        auto run = makeRun(
            entries({"/data/a.bin?kib=40&ms=20", "/data/x.bin?kib=4", "/data/x_1.bin?kib=4"}));
        runToEnd(*run);
        QCOMPARE(m_reports,
                 (QStringList{"begins 0", "path 0 a.bin", "ends 0", "begins 1", "path 1 x_1.bin",
                              "ends 1", "begins 2", "path 2 x_1_1.bin", "ends 2", "end"}));
        QCOMPARE(test::contentOf(dl("x.bin")), QByteArray("the user's own"));
        QCOMPARE(QFileInfo(dl("x_1_1.bin")).size(), 4096);
    }

    // Two entries for the same path: the second is asked for only once the first has landed,
    // and gets the next free name, as one after the other.
    void samePathTwice()
    {
        auto run =
            makeRun(entries({"/data/a.bin?kib=8&ms=20", "/data/a.bin?kib=4"}, {"a.bin", "a.bin"}));
        qint64 firstEnded = 0;
        connect(run.get(), &BatchRun::turnEnds, this, [&](int entry) {
            if (entry == 0)
                firstEnded = m_clock.elapsed();
        });
        runToEnd(*run);
        QCOMPARE(m_reports, (QStringList{"begins 0", "path 0 a.bin", "ends 0", "begins 1",
                                         "path 1 a_1.bin", "ends 1", "end"}));
        QCOMPARE(QFileInfo(dl("a.bin")).size(), 8 * 1024);
        QCOMPARE(QFileInfo(dl("a_1.bin")).size(), 4 * 1024);
        const std::vector<Request> seen = requests();
        QCOMPARE(int(seen.size()), 2);
        QVERIFY(seen.at(1).at >= firstEnded);
    }

    // A later entry's failure, known early, is told at its own turn.
    void laterErrorAtItsTurn()
    {
        auto run =
            makeRun(entries({"/data/a.bin?kib=20&ms=20", "/missing/b.bin", "/data/c.bin?kib=4"}));
        runToEnd(*run);
        QCOMPARE(m_reports,
                 (QStringList{"begins 0", "path 0 a.bin", "ends 0", "begins 1", "path 1 b.bin",
                              "failed 1", "ends 1", "begins 2", "path 2 c.bin", "ends 2", "end"}));
        QVERIFY(!QFileInfo::exists(dl("b.bin")));
    }

    // Stopping a run for good stops every transfer at once and leaves nothing of them.
    void resetDuringOverlap()
    {
        auto run = makeRun(entries({"/data/a.bin?kib=200&ms=20", "/data/b.bin?kib=200&ms=20",
                                    "/data/c.bin?kib=200&ms=20"}));
        run->start();
        QTRY_VERIFY(requests().size() == 3 && m_active == 3);
        QTRY_VERIFY(QFileInfo(dl("c.bin.part")).size() > 0);
        run->stop(false);
        QTRY_COMPARE(m_abandoned.load(), 3);
        QTRY_COMPARE(entriesOf(m_directory->path()), QStringList());
        QVERIFY(!m_reports.contains("end"));
    }

    // Stopped so that a later run continues: every entry, also those whose turn had not
    // come, asks only for the rest of its file next time.
    void stopDuringOverlapThenResume()
    {
        const QStringList paths{"/data/a.bin?kib=200&ms=10", "/data/b.bin?kib=100&ms=10",
                                "/data/c.bin?kib=100&ms=10"};
        {
            auto run = makeRun(entries(paths));
            run->start();
            QTRY_VERIFY(QFileInfo(dl("a.bin.part")).size() >= 8192 &&
                        QFileInfo(dl("b.bin.part")).size() >= 8192 &&
                        QFileInfo(dl("c.bin.part")).size() >= 8192);
            run->stop(true);
        }
        m_reports.clear();
        {
            const std::lock_guard lock(m_mutex);
            m_requests.clear();
        }
        auto again = makeRun(entries(paths));
        runToEnd(*again);
        QCOMPARE(test::contentOf(dl("a.bin")), pattern(200 * 1024));
        QCOMPARE(test::contentOf(dl("b.bin")), pattern(100 * 1024));
        QCOMPARE(test::contentOf(dl("c.bin")), pattern(100 * 1024));
        const std::vector<Request> seen = requests();
        QCOMPARE(int(seen.size()), 3);
        for (const Request &request : seen)
            QVERIFY2(request.range.rfind("bytes=", 0) == 0, request.path.c_str());
    }

    // A server that refuses more than one request at a time gets them one at a time, and
    // no entry fails for its refusals.
    void busyHostOneAtATime()
    {
        m_refusals = 0;
        QStringList paths;
        for (int i = 0; i < 8; ++i)
            paths << QStringLiteral("/busy/%1.bin").arg(i);
        auto run = makeRun(entries(paths));
        runToEnd(*run);
        QVERIFY(!m_reports.join(' ').contains("failed"));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(test::contentOf(dl(QStringLiteral("%1.bin").arg(i))), pattern(4096));
        // The first transfers that were already on their way are refused; after that the
        // server is asked one request at a time.
        QVERIFY(m_refusals > 0);
        QVERIFY2(m_refusals <= BatchRun::MaxTransfers, qPrintable(QString::number(m_refusals)));
    }

    // Réinitialiser after a host said it was busy: the transfers that made way for the first
    // one kept their part files, which go too; no connection to the host stays open.
    void resetAfterBusyHost()
    {
        m_refusals = 0;
        auto run = makeRun(
            entries({"/data/s.bin?kib=4", "/data/a.bin?kib=400&ms=10", "/data/b.bin?kib=400&ms=10",
                     "/data/c.bin?kib=400&ms=10", "/late503/d.bin"}));
        run->start();
        QTRY_VERIFY(m_refusals > 0);
        QTRY_COMPARE(m_active.load(), 1);    // b.bin and c.bin made way for a.bin
        QVERIFY(QFile::remove(dl("s.bin"))); // landed; its connection waits for another file
        run->stop(false);
        QTRY_COMPARE(entriesOf(m_directory->path()), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->openConnections(), 0, 2000); // before it drops them
    }

    // An entry that went ahead of its turn and is refused at it stops at once: its file is
    // not fetched to its end behind the run's back.
    void refusedEntryStops()
    {
        // Taken, its name gets a number, which makes it longer than a file name may be.
        const QString name(254, QChar('n'));
        test::writeFile(dl(name), "the user's own");
        auto run =
            makeRun(entries({"/data/a.bin?kib=20&ms=20", "/data/" + name + "?kib=400&ms=10"}));
        runToEnd(*run);
        QVERIFY(m_reports.contains("failed 1"));
        QCOMPARE(m_reports.last(2), (QStringList{"ends 1", "end"}));
        QTRY_COMPARE_WITH_TIMEOUT(m_abandoned.load(), 1, 2000);
        QTRY_COMPARE(entriesOf(m_directory->path()), (QStringList{"a.bin", name}));
    }

    // Stopped at any moment to be continued, a run leaves a record of exactly the entries
    // whose files are not at their names: one that was landing, and landed, is not in it.
    void recordNamesExactlyTheUnlanded()
    {
        QStringList paths;
        for (int i = 0; i < 30; ++i)
            paths << QStringLiteral("/data/f%1.bin?kib=4&ms=5").arg(i);
        QRandomGenerator random(22);
        int stoppedMidway = 0;
        std::vector<std::unique_ptr<QTemporaryDir>> earlier; // part files may still be kept there
        for (int round = 0; round < 12; ++round) {
            earlier.push_back(std::move(m_directory));
            init();
            // As the window queues them: each row is its address's last segment.
            QList<RunEntry> all = entries(paths);
            for (RunEntry &entry : all)
                entry.row = entry.address.section('/', -1);
            RunRecorder recorder(m_directory->path());
            {
                auto run = makeRun(all);
                run->keepRecord(&recorder);
                run->start();
                QTest::qWait(random.bounded(150));
                run->stop(true);
            }
            const auto unlanded = [&] {
                QList<RunEntry> left;
                for (const RunEntry &entry : all)
                    if (!QFileInfo::exists(entry.path))
                        left << entry;
                return left;
            };
            // Read as the next start reads it, without its clean-up of writes under way.
            const QString record = m_directory->filePath(InterruptedRunFileName);
            // A file still landing is at its name a moment before its mark is in the record,
            // and the disk may be slow: the two must agree for a while, not at one glance.
            const auto agree = [&] {
                return parseInterruptedRun(test::contentOf(record)).value_or(QList<RunEntry>{}) ==
                       unlanded();
            };
            int agreeing = 0;
            for (QDeadlineTimer deadline(30000); agreeing < 10 && !deadline.hasExpired();
                 QTest::qWait(50))
                agreeing = agree() ? agreeing + 1 : 0;
            QCOMPARE(agreeing, 10);
            if (!unlanded().isEmpty() && unlanded().size() < all.size())
                ++stoppedMidway;
        }
        QVERIFY(stoppedMidway > 3);
    }

    // The progress shown is that of the turn's transfer, also of one that went early and has
    // not all its data when its turn comes.
    void progressOfTheTurn()
    {
        auto run = makeRun(entries({"/data/a.bin?kib=10&ms=20", "/data/b.bin?kib=40&ms=20"}));
        QList<std::pair<int, qint64>> shown; // the turn, and the total it was shown with
        int turn = -1;
        connect(run.get(), &BatchRun::turnBegins, this, [&](int entry) { turn = entry; });
        connect(run.get(), &BatchRun::progress, this, [&](qint64, qint64 total) {
            shown.push_back({turn, total});
        });
        runToEnd(*run);
        QVERIFY(shown.contains(std::pair<int, qint64>{0, 10 * 1024}));
        QVERIFY(shown.contains(std::pair<int, qint64>{1, 40 * 1024}));
        QVERIFY(!shown.contains(std::pair<int, qint64>{0, 40 * 1024}));
    }

    // A server that only drips never holds the run: that entry fails, the next one lands.
    void drippingEntryDoesNotHoldTheRun()
    {
        test::ScriptedServer drip([](const QByteArray &, int) {
            return test::ScriptedServer::Reply{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" +
                                                   QByteArray(100, 'd'),
                                               test::ScriptedServer::Ending::Close, 1000};
        });
        QList<RunEntry> list{{"drip", drip.url("/drip"), dl("drip")}};
        list.push_back(entries({"/data/b.bin?kib=4"}).front());
        auto run = makeRun(std::move(list));
        run->transferOptions.lowestSpeed = {1024, 300ms};
        runToEnd(*run);
        QCOMPARE(m_reports, (QStringList{"begins 0", "path 0 drip", "failed 0", "ends 0",
                                         "begins 1", "path 1 b.bin", "ends 1", "end"}));
        QCOMPARE(test::contentOf(dl("b.bin")), pattern(4096));
        QVERIFY(!QFileInfo::exists(dl("drip")));
    }

    // The turn's entry goes on the line at once however full it is of later ones: here the
    // server holds those back, and the two entries behind the first can only go at their
    // turns or just before (their directory is made at the first one's turn).
    void turnGoesPastAFullLine()
    {
        QStringList paths{"/data/a.bin?kib=4", "/data/x.bin?kib=4", "/data/y.bin?kib=4"};
        QStringList names{"a.bin", "sub/x.bin", "sub/y.bin"};
        for (int i = 0; i < BatchRun::MaxTransfers; ++i) {
            paths << QStringLiteral("/gated/g%1.bin").arg(i);
            names << QStringLiteral("g%1.bin").arg(i);
        }
        auto run = makeRun(entries(paths, names));
        QSignalSpy ended(run.get(), &BatchRun::turnEnds);
        QSignalSpy finished(run.get(), &BatchRun::finished);
        run->start();
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 3, 10000);
        QCOMPARE(test::contentOf(dl("sub/y.bin")), pattern(4096));
        m_gateOpen = true;
        QVERIFY(finished.wait(10000));
    }
};

QTEST_GUILESS_MAIN(TestOverlappedRun)
#include "tst_overlappedrun.moc"
