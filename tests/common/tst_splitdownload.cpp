#include "rangedfile.h"
#include "recordedranges.h"
#include "splitpolicy.h"
#include "transfer.h"
#include "transferengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

using namespace quorrin;
using namespace quorrin::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(quorrin::DownloadFailure)
Q_DECLARE_METATYPE(quorrin::test::RangedFileServer::Fault)

namespace {

constexpr qint64 MiB = 1 << 20;
// About 16 MiB/s for each answer.
constexpr int PaceBytes = 128 * 1024;
constexpr int PaceMs = 8;

const char ChildUrlVariable[] = "QUORRIN_SPLIT_CHILD_URL";
const char ChildTargetVariable[] = "QUORRIN_SPLIT_CHILD_TARGET";

using Request = RangedFileServer::Request;
using Reply = ScriptedServer::Reply;

// The server of the row under way, for faults made before it.
RangedFileServer *servedNow = nullptr;

// Whether the file at `path` is exactly `version` of the served file, `size` bytes long.
bool holdsVersion(const QString &path, int version, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != size)
        return false;
    for (qint64 at = 0; at < size; at += 4 * MiB) {
        const qint64 length = std::min(4 * MiB, size - at);
        if (file.read(length) != RangedFileServer::bytes(version, at, length))
            return false;
    }
    return true;
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Requests that asked for a piece of a version: If-Match or If-Unmodified-Since.
int pieceRequests(const std::vector<Request> &requests)
{
    return int(std::count_if(requests.begin(), requests.end(), [](const Request &request) {
        return !request.ifMatch.isEmpty() || !request.ifUnmodifiedSince.isEmpty();
    }));
}

// The bytes a Range header asks for, in a file of `total` bytes.
ByteRange rangeAsked(const QByteArray &header, qint64 total)
{
    const QList<QByteArray> bounds = header.mid(6).split('-');
    const qint64 first = bounds.value(0).toLongLong();
    const qint64 last = bounds.value(1).isEmpty() ? total - 1 : bounds.value(1).toLongLong();
    return {first, last + 1};
}

// A download that the test follows to its end, with the progress it told.
struct Followed {
    DownloadResult result;
    QList<qint64> received;
    int busy = 0; // serverBusy() reports
};

Followed follow(const QString &url, const QString &target, const TransferOptions &options,
                int timeoutMs = 20000)
{
    Followed followed;
    std::unique_ptr<Transfer> transfer(startDownload(url, target, options, nullptr));
    QSignalSpy finished(transfer.get(), &Transfer::finished);
    QObject::connect(transfer.get(), &Transfer::progress,
                     [&](qint64 received, qint64) { followed.received << received; });
    QObject::connect(transfer.get(), &Transfer::serverBusy, [&] { ++followed.busy; });
    if (finished.wait(timeoutMs))
        followed.result = finished.at(0).at(0).value<DownloadResult>();
    else
        followed.result.cause = QStringLiteral("not over in time");
    return followed;
}

TransferOptions splitting()
{
    TransferOptions options;
    options.split = true;
    options.retryWait = 10ms;
    return options;
}

// The child of killedDuringSplit: a download that goes on until it is killed.
int downloadUntilKilled(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    judgeEngineRoom(false);
    TransferOptions options = splitting();
    options.keepPartial = true;
    Transfer *transfer = startDownload(qEnvironmentVariable(ChildUrlVariable),
                                       qEnvironmentVariable(ChildTargetVariable), options, nullptr);
    QObject::connect(transfer, &Transfer::finished, &application,
                     [] { QCoreApplication::exit(1); });
    return application.exec();
}

// Told on the engine's thread, as engine observers are. For a second once `slow` is set, it
// takes 150 ms over each report, as an observer that writes to a slow disk might.
class SlowObserver : public engine::Observer {
public:
    std::atomic<bool> slow = false;

    bool progressed(qint64, qint64) override
    {
        if (slow && !m_slowSince.isValid())
            m_slowSince.start();
        if (m_slowSince.isValid() && m_slowSince.elapsed() < 1000)
            std::this_thread::sleep_for(150ms);
        return true;
    }
    void finished(const DownloadResult &result, QByteArray, QByteArray) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_result = result;
        }
        m_over.notify_all();
    }
    void abandoned() override {}

    std::optional<DownloadResult> wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_over.wait_for(lock, timeout, [this] { return m_result.has_value(); });
        return m_result;
    }

private:
    QElapsedTimer m_slowSince; // the engine's thread's own
    std::mutex m_mutex;
    std::condition_variable m_over;
    std::optional<DownloadResult> m_result;
};

} // namespace

// A file fetched over several connections at once, from servers that play along and servers
// that do not.
class TestSplitDownload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cappedServer_data();
    void cappedServer();
    void fileChangesBetweenRanges_data();
    void fileChangesBetweenRanges();
    void laterRangeRefused_data();
    void laterRangeRefused();
    void busyWhileReportsLag();
    void stalledConnectionTakenOver();
    void killedDuringSplit();
    void diskTooSmall();
    void startingTransferComesFirst();
};

void TestSplitDownload::initTestCase()
{
    // The servers are on loopback; a proxy from the environment must not take the requests.
    for (const char *variable : {"http_proxy", "all_proxy", "HTTP_PROXY", "ALL_PROXY"})
        qunsetenv(variable);
    // These tests need files to split; whether a starved CPU should stop that is not theirs.
    judgeEngineRoom(false);
}

void TestSplitDownload::cappedServer_data()
{
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("etag");
    QTest::addColumn<bool>("lastModified");
    QTest::addColumn<bool>("acceptsRanges");
    QTest::addColumn<int>("connections"); // at least this many when more than one; else one

    QTest::newRow("ranges of the version its ETag names, over several connections")
        << true << true << true << true << 4;
    QTest::newRow("ranges of the version its date names, over several connections")
        << true << false << true << true << 4;
    // The updater's installer download.
    QTest::newRow("one connection when splitting is not asked for")
        << false << true << true << true << 1;
    QTest::newRow("one connection when the server takes no ranges")
        << true << true << true << false << 1;
    QTest::newRow("one connection when the server names no version")
        << true << false << false << true << 1;
}

// A server that holds each connection to a rate: the file comes over several connections,
// each range asked of the version held and written at its place, and the progress tells
// every connection's bytes together. Where splitting is not for this file, one connection.
void TestSplitDownload::cappedServer()
{
    QFETCH(bool, split);
    QFETCH(bool, etag);
    QFETCH(bool, lastModified);
    QFETCH(bool, acceptsRanges);
    QFETCH(int, connections);
    // A range is split for a new connection when each half is at least 4 MiB: four of them
    // have ranges of about 6 MiB.
    const qint64 size = 24 * MiB;
    RangedFileServer server(size);
    server.setNames(etag, lastModified);
    server.setAcceptsRanges(acceptsRanges);
    // Without splitting, a faster pace is still slow enough for a split to be seen.
    server.setPace(connections > 1 ? PaceBytes : 4 * PaceBytes, PaceMs);
    QTemporaryDir directory;
    TransferOptions options = splitting();
    options.split = split;
    const Followed followed = follow(server.url(), directory.filePath("file.bin"), options);
    QVERIFY2(followed.result.ok, qPrintable(followed.result.cause));
    QVERIFY(holdsVersion(directory.filePath("file.bin"), 1, size));
    QCOMPARE(entriesOf(directory.path()), QStringList{"file.bin"});

    const std::vector<Request> requests = server.requests();
    if (connections == 1) {
        QCOMPARE(int(requests.size()), 1);
        QCOMPARE(server.mostSending(), 1);
        return;
    }
    QVERIFY2(server.mostSending() >= connections,
             qPrintable(QString::number(server.mostSending())));
    QVERIFY(requests.front().range.isEmpty()); // the whole file first, nothing asked before
    for (std::size_t i = 1; i < requests.size(); ++i) {
        QVERIFY(requests[i].range.startsWith("bytes="));
        if (etag)
            QCOMPARE(requests[i].ifMatch + requests[i].ifRange, QByteArray("\"v1\""));
        else
            QVERIFY(!(requests[i].ifUnmodifiedSince + requests[i].ifRange).isEmpty());
    }
    QVERIFY(std::is_sorted(followed.received.begin(), followed.received.end()));
    QVERIFY(!followed.received.isEmpty() && followed.received.last() <= size);
}

void TestSplitDownload::fileChangesBetweenRanges_data()
{
    QTest::addColumn<bool>("etag");
    QTest::addColumn<bool>("ignoresConditions");
    QTest::addColumn<int>("newVersion");
    QTest::addColumn<qint64>("newSize");

    QTest::newRow("If-Match refused: 412") << true << false << 2 << 16 * MiB;
    QTest::newRow("If-Unmodified-Since refused: 412") << false << false << 2 << 16 * MiB;
    QTest::newRow("a range sent anyway, under another ETag") << true << true << 2 << 16 * MiB;
    QTest::newRow("a range sent anyway, under another date") << false << true << 2 << 16 * MiB;
    QTest::newRow("a range sent anyway, the same names, another length")
        << true << true << 1 << 15 * MiB;
}

// The file changes on the server once a second connection asks for a range: what lands is the
// new version whole, fetched again from its first byte, never a mix of the two.
void TestSplitDownload::fileChangesBetweenRanges()
{
    QFETCH(bool, etag);
    QFETCH(bool, ignoresConditions);
    QFETCH(int, newVersion);
    QFETCH(qint64, newSize);
    RangedFileServer server(16 * MiB);
    server.setNames(etag, true);
    server.setIgnoresConditions(ignoresConditions);
    server.setPace(PaceBytes, PaceMs);
    auto changed = std::make_shared<std::atomic<bool>>(false);
    server.setFault([&server, changed, newVersion, newSize](const Request &request) {
        // Served as the new version, which comes at once.
        if (!request.range.isEmpty() && !changed->exchange(true)) {
            server.setVersion(newVersion, newSize);
            server.setPace(0, 0);
        }
        return std::optional<Reply>();
    });
    QTemporaryDir directory;
    const Followed followed = follow(server.url(), directory.filePath("file.bin"), splitting());
    QVERIFY2(followed.result.ok, qPrintable(followed.result.cause));
    QVERIFY(holdsVersion(directory.filePath("file.bin"), newVersion, newSize));
    // The second whole request is the last one: the new version came on one connection.
    const std::vector<Request> requests = server.requests();
    const auto whole = std::count_if(requests.begin(), requests.end(), [](const Request &request) {
        return request.range.isEmpty();
    });
    QCOMPARE(int(whole), 2);
    QVERIFY(requests.back().range.isEmpty());
}

void TestSplitDownload::laterRangeRefused_data()
{
    QTest::addColumn<RangedFileServer::Fault>("fault");
    QTest::addColumn<bool>("busy");

    // The first request for a piece gets `reply`; the others get their pieces.
    const auto onPieces = [](std::function<Reply(const Request &)> reply) {
        auto refused = std::make_shared<std::atomic<bool>>(false);
        return RangedFileServer::Fault(
            [reply, refused](const Request &request) -> std::optional<Reply> {
                if (request.ifMatch.isEmpty() || refused->exchange(true))
                    return std::nullopt;
                return reply(request);
            });
    };
    QTest::newRow("200 of the same version to a range") << onPieces([](const Request &request) {
        Request whole = request;
        whole.range.clear();
        whole.ifMatch.clear();
        return servedNow->fileAnswer(whole);
    }) << false;
    QTest::newRow("416 to a range") << onPieces([](const Request &) {
        return Reply{"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n"};
    }) << false;
    QTest::newRow("503 to another connection") << onPieces([](const Request &) {
        return Reply{"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"};
    }) << true;
    QTest::newRow("another connection reset before an answer") << onPieces([](const Request &) {
        return Reply{{}, ScriptedServer::Ending::Reset};
    }) << true;
}

// A server that answers a request for a piece with anything but the piece: that connection
// ends, and no range is split again: the file keeps the connections it has, or, when the
// server refused one, keeps one and tells the server busy; it comes whole and exact.
void TestSplitDownload::laterRangeRefused()
{
    QFETCH(RangedFileServer::Fault, fault);
    QFETCH(bool, busy);
    // Large enough for a first round of three added connections.
    const qint64 size = 32 * MiB;
    RangedFileServer server(size);
    servedNow = &server;
    const auto forget = qScopeGuard([] { servedNow = nullptr; });
    server.setPace(2 * PaceBytes, PaceMs);
    server.setFault(fault);
    QTemporaryDir directory;
    std::unique_ptr<Transfer> transfer(
        startDownload(server.url(), directory.filePath("file.bin"), splitting(), nullptr));
    QSignalSpy finished(transfer.get(), &Transfer::finished);
    QSignalSpy busySpy(transfer.get(), &Transfer::serverBusy);
    // Once the server was told busy, and the connections it refused had time to close: how
    // many connections the file holds.
    QElapsedTimer sinceBusy;
    int mostAfterBusy = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        if (!busySpy.isEmpty() && !sinceBusy.isValid())
            sinceBusy.start();
        if (sinceBusy.isValid() && sinceBusy.elapsed() > 50)
            mostAfterBusy = std::max(mostAfterBusy, server.openConnections());
    });
    sampler.start(5);
    QVERIFY(finished.wait(20000));
    const auto result = finished.at(0).at(0).value<DownloadResult>();
    QVERIFY2(result.ok, qPrintable(result.cause));
    QVERIFY(holdsVersion(directory.filePath("file.bin"), 1, size));
    // One round of added connections asked, and none after it.
    const int pieces = pieceRequests(server.requests());
    QVERIFY2(pieces >= 1 && pieces <= GrowthFactor - 1, qPrintable(QString::number(pieces)));
    QCOMPARE(!busySpy.isEmpty(), busy);
    QVERIFY2(mostAfterBusy <= 1, qPrintable(QString::number(mostAfterBusy)));
}

// The server refuses a piece while the engine's thread is late with its reports: the other
// pieces are let go at a moment when a report is due, and the file still comes.
void TestSplitDownload::busyWhileReportsLag()
{
    const qint64 size = 32 * MiB;
    RangedFileServer server(size);
    server.setPace(2 * PaceBytes, PaceMs);
    SlowObserver observer;
    auto refused = std::make_shared<std::atomic<bool>>(false);
    server.setFault([&observer, refused](const Request &request) -> std::optional<Reply> {
        if (request.ifMatch.isEmpty() || refused->exchange(true))
            return std::nullopt;
        observer.slow = true;
        std::this_thread::sleep_for(300ms); // while the reports lag
        return Reply{"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"};
    });
    QTemporaryDir directory;
    const std::shared_ptr<engine::Job> job =
        engine::start(server.url(), directory.filePath("file.bin"), splitting(), &observer);
    const std::optional<DownloadResult> result = observer.wait(20s);
    // The engine's thread cannot be stopped: waiting for it would wait for ever.
    if (!result)
        qFatal("the download never ended");
    QVERIFY2(result->ok, qPrintable(result->cause));
    QVERIFY(*refused);
    QVERIFY(holdsVersion(directory.filePath("file.bin"), 1, size));
}

// A connection that stops sending in the middle of its range does not hold the file until the
// stall limit: the others take its range over.
void TestSplitDownload::stalledConnectionTakenOver()
{
    const qint64 size = 16 * MiB;
    RangedFileServer server(size);
    server.setPace(PaceBytes, PaceMs);
    server.setFault([&server](const Request &request) -> std::optional<Reply> {
        if (request.index != 1)
            return std::nullopt;
        Reply reply = server.fileAnswer(request);
        reply.bodyLength = std::min<qint64>(reply.bodyLength, 256 * 1024);
        reply.ending = ScriptedServer::Ending::Stall;
        return reply;
    });
    QTemporaryDir directory;
    TransferOptions options = splitting();
    options.stallTimeout = 60s;
    QElapsedTimer clock;
    clock.start();
    const Followed followed = follow(server.url(), directory.filePath("file.bin"), options, 15000);
    QVERIFY2(followed.result.ok, qPrintable(followed.result.cause));
    QVERIFY(holdsVersion(directory.filePath("file.bin"), 1, size));
    QVERIFY2(clock.elapsed() < 15000, "the stalled range waited for the stall limit");
}

// Killed while it fetches a file over several connections, a process leaves a part file whose
// record names the ranges it holds; the next download asks only for the others, over several
// connections again.
void TestSplitDownload::killedDuringSplit()
{
    const qint64 size = 24 * MiB;
    RangedFileServer server(size);
    server.setPace(PaceBytes / 2, 25); // about 2.5 MiB/s a connection: killed well before its end
    QTemporaryDir directory;
    const QString target = directory.filePath("file.bin");
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ChildUrlVariable, server.url());
    environment.insert(ChildTargetVariable, target);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    // Once the record names ranges of several connections.
    QTRY_VERIFY_WITH_TIMEOUT(recordedOf(target + ".part").ranges().size() >= 3 &&
                                 recordedOf(target + ".part").bytes() >= 2 * MiB,
                             20000);
    child.kill();
    QVERIFY(child.waitForFinished());
    const ByteRanges recorded = recordedOf(target + ".part");
    if (recorded.isEmpty())
        QSKIP("this file system keeps no extended attributes");

    // In bursts, as a server that holds connections to a rate often sends: long silences
    // follow the first bytes.
    const std::size_t before = server.requests().size();
    server.setPace(1024 * 1024, 100);
    server.countMostSendingAgain();
    TransferOptions options = splitting();
    options.keepPartial = true;
    const Followed followed = follow(server.url(), target, options);
    QVERIFY2(followed.result.ok, qPrintable(followed.result.cause));
    QVERIFY(holdsVersion(target, 1, size));
    QVERIFY2(server.mostSending() >= 2, "one connection after the kill");
    const std::vector<Request> requests = server.requests();
    QVERIFY(requests.size() > before);
    for (std::size_t i = before; i < requests.size(); ++i) {
        QVERIFY(requests[i].range.startsWith("bytes="));
        const ByteRange asked = rangeAsked(requests[i].range, size);
        for (const ByteRange &held : recorded.ranges())
            QVERIFY2(std::min(held.end, asked.end) <= std::max(held.begin, asked.begin),
                     requests[i].range.constData());
    }
}

// A file whose size the server names and which the disk has no room for fails at once, with
// the disk-full cause, before any of it could fill the disk.
void TestSplitDownload::diskTooSmall()
{
    QTemporaryDir directory;
    const QString small = directory.filePath("small");
    QVERIFY(QDir().mkdir(small));
    const int mounted =
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", small});
    if (mounted != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {small}); });
    // The first bytes come, then nothing: only the size told tells that it cannot fit.
    RangedFileServer server(16 * MiB);
    server.setFault([&server](const Request &request) -> std::optional<Reply> {
        Reply reply = server.fileAnswer(request);
        reply.bodyLength = 128 * 1024;
        reply.ending = ScriptedServer::Ending::Stall;
        return reply;
    });
    TransferOptions options;
    options.stallTimeout = 60s;
    const Followed followed =
        follow(server.url(), QDir(small).filePath("file.bin"), options, 10000);
    QCOMPARE(followed.result.failure, DownloadFailure::DiskFull);
    QTRY_COMPARE(entriesOf(small), QStringList());
}

// A server gets at most MaxConnectionsPerServer connections at once; a transfer that starts
// while a split file holds them all gets one at once, given back by the split file.
void TestSplitDownload::startingTransferComesFirst()
{
    // Twelve slow downloads hold twelve of the server's connections, so that the file that
    // splits reaches the limit with its first added connections, whatever its rounds find.
    const qint64 size = 160 * MiB;
    RangedFileServer server(size);
    server.setPace(1024, 100);
    QTemporaryDir directory;
    std::vector<std::unique_ptr<Transfer>> slow;
    for (int i = 0; i < MaxConnectionsPerServer - GrowthFactor; ++i)
        slow.emplace_back(startDownload(server.url() + "?slow" + QString::number(i),
                                        directory.filePath("slow%1.bin").arg(i), {}, nullptr));
    QTRY_COMPARE(server.sending(), MaxConnectionsPerServer - GrowthFactor);
    // Fine-grained, so that the first connection's window sees its pace.
    server.setPace(PaceBytes / 4, PaceMs);
    int most = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this,
            [&] { most = std::max(most, server.openConnections()); });
    sampler.start(2);
    std::unique_ptr<Transfer> split(
        startDownload(server.url(), directory.filePath("split.bin"), splitting(), nullptr));
    QTRY_COMPARE_WITH_TIMEOUT(server.sending(), MaxConnectionsPerServer, 10000);
    const std::size_t before = server.requests().size();
    std::unique_ptr<Transfer> other(
        startDownload(server.url() + "?other", directory.filePath("other.bin"), {}, nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(
        server.requests().size() > before && server.requests().back().range.isEmpty(), 2000);
    QTRY_VERIFY2(server.sending() <= MaxConnectionsPerServer,
                 qPrintable(QStringLiteral("%1 sending over %2 open connections")
                                .arg(server.sending())
                                .arg(server.openConnections())));
    QTest::qWait(100);
    QVERIFY2(most <= MaxConnectionsPerServer, qPrintable(QString::number(most)));
    QVERIFY(split->isRunning());
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(ChildUrlVariable))
        return downloadUntilKilled(argc, argv);
    QCoreApplication application(argc, argv);
    TestSplitDownload test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_splitdownload.moc"
