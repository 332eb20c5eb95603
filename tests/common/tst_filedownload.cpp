#include "childserver.h"
#include "filedownload.h"
#include "httpserver.h"
#include "resumablefile.h"
#include "scriptedserver.h"
#include "testfiles.h"
#include "transfer.h"
#include "version.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>
#include <mutex>
#include <set>
#include <unistd.h>

using namespace quorrin;
using namespace quorrin::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(quorrin::DownloadFailure)

// How a server answers the request `index` (from 0) for a file.
using Scenario = std::function<quorrin::test::ScriptedServer::Reply(
    quorrin::test::ResumableFile &file, const QByteArray &request, int index)>;
Q_DECLARE_METATYPE(Scenario)

namespace {

const QByteArray OldContent("ancien contenu");
const QString Target = QStringLiteral("file.bin");

// Larger than libcurl's receive buffer, so that a file arrives in several pieces.
QByteArray makePayload()
{
    QByteArray data;
    for (int line = 0; data.size() < 1536 * 1024; ++line)
        data += "line " + QByteArray::number(line) + '\n';
    return data;
}

// Every entry of the directory, hidden ones included: a left-over part file shows up here.
QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray replyAnnouncing(int length, const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           QByteArray::number(length) + "\r\n\r\n" + body;
}

} // namespace

class TestFileDownload : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void moduleOperationRecordsOutcome();
    void httpReplies_data();
    void httpReplies();
    void brokenTransfers_data();
    void brokenTransfers();
    void addressFailures_data();
    void addressFailures();
    void unwritableTargets_data();
    void unwritableTargets();
    void wildcardCharactersAreLiteral_data();
    void wildcardCharactersAreLiteral();
    void fullDisk();
    void ftp_data();
    void ftp();
    void rejectsUntrustedCertificate();
    void reusesConnection();
    void proxyFromEnvironment();
    void reportsProgressAndCancels();
    void resumesInterruptedTransfers_data();
    void resumesInterruptedTransfers();
    void resumeRedirectedToAnotherVersion();
    void httpsNeverRedirectsToClearText();
    void swappedPartFileNeverLands_data();
    void swappedPartFileNeverLands();
    void cancelHasOneAnswer_data();
    void cancelHasOneAnswer();

private:
    // Checks a download's result and what it left in `directory`, where `Target` held
    // OldContent before when `existing`.
    void verifyOutcome(const DownloadResult &result, DownloadFailure expected,
                       const QString &directory, bool existing, const QByteArray &content);
    int requestCount();

    QByteArray m_payload = makePayload();
    std::unique_ptr<HttpServer> m_http;
    std::mutex m_mutex;
    int m_requests = 0;
    std::set<int> m_clientPorts;
    std::string m_userAgent;
};

void TestFileDownload::initTestCase()
{
    // The servers are on loopback; a proxy from the environment must not take the requests.
    for (const char *variable : {"http_proxy", "https_proxy", "ftp_proxy", "all_proxy",
                                 "HTTP_PROXY", "HTTPS_PROXY", "FTP_PROXY", "ALL_PROXY"})
        qunsetenv(variable);
    m_http = std::make_unique<HttpServer>([this](httplib::Server &server) {
        const std::string payload = m_payload.toStdString();
        const auto serve = [payload](const httplib::Request &, httplib::Response &response) {
            response.set_content(payload, "application/octet-stream");
        };
        server.Get("/file", serve);
        server.Get("/été 1.bin", serve);
        server.Get("/empty", [](const httplib::Request &, httplib::Response &response) {
            response.set_content("", "application/octet-stream");
        });
        server.Get("/chunked", [payload](const httplib::Request &, httplib::Response &response) {
            response.set_chunked_content_provider("application/octet-stream",
                                                  [payload](size_t, httplib::DataSink &sink) {
                                                      sink.write(payload.data(), payload.size());
                                                      sink.done();
                                                      return true;
                                                  });
        });
        const auto status = [](int code) {
            return [code](const httplib::Request &, httplib::Response &response) {
                response.status = code;
                response.set_content("page d'erreur", "text/plain");
            };
        };
        server.Get("/missing", status(404));
        server.Get("/broken", status(500));
        const auto redirect = [](const char *location) {
            return [location](const httplib::Request &, httplib::Response &response) {
                response.set_redirect(location);
            };
        };
        server.Get("/hop1", redirect("/hop2"));
        server.Get("/hop2", redirect("/file"));
        server.Get("/to-local-file", redirect("file:///etc/hostname"));
        server.Get("/loop", redirect("/loop"));
        server.set_logger([this](const httplib::Request &request, const httplib::Response &) {
            const std::lock_guard lock(m_mutex);
            ++m_requests;
            m_clientPorts.insert(request.remote_port);
            m_userAgent = request.get_header_value("User-Agent");
        });
    });
}

void TestFileDownload::verifyOutcome(const DownloadResult &result, DownloadFailure expected,
                                     const QString &directory, bool existing,
                                     const QByteArray &content)
{
    const bool ok = expected == DownloadFailure::None;
    QCOMPARE(result.failure, expected);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.cause.isEmpty(), ok);
    const QString target = QDir(directory).filePath(Target);
    if (ok)
        QCOMPARE(contentOf(target), content);
    else if (existing)
        QCOMPARE(contentOf(target), OldContent);
    QCOMPARE(entriesOf(directory), ok || existing ? QStringList{Target} : QStringList{});
}

int TestFileDownload::requestCount()
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestFileDownload::moduleOperationRecordsOutcome()
{
    QVERIFY(!lastDownloadOk());
    QTemporaryDir directory;
    const QString target = directory.filePath(Target);
    QVERIFY(DownloadFile(m_http->url(QStringLiteral("/file")), target));
    QVERIFY(lastDownloadOk());
    QCOMPARE(contentOf(target), m_payload);

    QVERIFY(!DownloadFile(m_http->url(QStringLiteral("/missing")), target));
    QVERIFY(!lastDownloadOk());
    QCOMPARE(contentOf(target), m_payload); // a failed transfer keeps the earlier file
    const DownloadResult result = DownloadToFile(m_http->url(QStringLiteral("/missing")), target);
    QCOMPARE(result.cause, QStringLiteral("Adresse introuvable (erreur HTTP 404)"));
}

void TestFileDownload::httpReplies_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("existing");
    QTest::addColumn<DownloadFailure>("failure");
    QTest::addColumn<QString>("causeMentions");

    const auto none = DownloadFailure::None;
    QTest::newRow("new file") << "/file" << false << none << QString();
    QTest::newRow("replaces an existing file") << "/file" << true << none << QString();
    QTest::newRow("space and accent in the address") << "/été 1.bin" << false << none << QString();
    QTest::newRow("empty file") << "/empty" << false << none << QString();
    QTest::newRow("chunked, no announced length") << "/chunked" << false << none << QString();
    QTest::newRow("redirect chain") << "/hop1" << true << none << QString();
    QTest::newRow("404") << "/missing" << false << DownloadFailure::HttpError << "HTTP 404";
    QTest::newRow("404 keeps the old file")
        << "/missing" << true << DownloadFailure::HttpError << "HTTP 404";
    QTest::newRow("500") << "/broken" << true << DownloadFailure::HttpError << "HTTP 500";
    QTest::newRow("redirect to file: refused")
        << "/to-local-file" << true << DownloadFailure::RedirectRefused << QString();
    QTest::newRow("redirect loop")
        << "/loop" << false << DownloadFailure::TooManyRedirects << QString();
}

void TestFileDownload::httpReplies()
{
    QFETCH(QString, path);
    QFETCH(bool, existing);
    QFETCH(DownloadFailure, failure);
    QFETCH(QString, causeMentions);
    QTemporaryDir directory;
    if (existing)
        writeFile(directory.filePath(Target), OldContent);

    FileDownloader downloader;
    downloader.setRetryWait(10ms);
    const DownloadResult result =
        downloader.download(m_http->url(path), directory.filePath(Target));
    const QByteArray expected = path == QLatin1String("/empty") ? QByteArray() : m_payload;
    verifyOutcome(result, failure, directory.path(), existing, expected);
    QVERIFY2(result.cause.contains(causeMentions), qPrintable(result.cause));
}

void TestFileDownload::brokenTransfers_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<ScriptedServer::Ending>("ending");
    QTest::addColumn<DownloadFailure>("failure");
    QTest::addColumn<int>("paceMs"); // when set, the body goes out a byte at a time

    const QByteArray body(1000, 'x');
    const QByteArray part = body.left(400);
    using Ending = ScriptedServer::Ending;
    // The first row shows that the scripted server itself can deliver a file.
    QTest::newRow("whole body, then close")
        << replyAnnouncing(1000, body) << Ending::Close << DownloadFailure::None << 0;
    QTest::newRow("body cut short of its length")
        << replyAnnouncing(1000, part) << Ending::Close << DownloadFailure::Interrupted << 0;
    QTest::newRow("connection reset mid-body")
        << replyAnnouncing(1000, part) << Ending::Reset << DownloadFailure::Interrupted << 0;
    QTest::newRow("closed without a reply")
        << QByteArray() << Ending::Close << DownloadFailure::Interrupted << 0;
    QTest::newRow("stalls before replying")
        << QByteArray() << Ending::Stall << DownloadFailure::Stalled << 0;
    QTest::newRow("stalls after the headers")
        << replyAnnouncing(1000, {}) << Ending::Stall << DownloadFailure::Stalled << 0;
    QTest::newRow("stalls mid-body")
        << replyAnnouncing(1000, part) << Ending::Stall << DownloadFailure::Stalled << 0;
    // Two lengths: no valid message, whichever of them the body matches.
    QTest::newRow("two different lengths")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nContent-Length: 400\r\n\r\n" +
                      body)
        << Ending::Close << DownloadFailure::InvalidAnswer << 0;
    // Bytes keep coming, so no stall limit ever ends it.
    QTest::newRow("drips a byte at a time")
        << replyAnnouncing(1000, body) << Ending::Close << DownloadFailure::TooSlow << 20;
}

void TestFileDownload::brokenTransfers()
{
    QFETCH(QByteArray, reply);
    QFETCH(ScriptedServer::Ending, ending);
    QFETCH(DownloadFailure, failure);
    QFETCH(int, paceMs);
    QTemporaryDir directory;
    writeFile(directory.filePath(Target), OldContent);
    ScriptedServer server([&](const QByteArray &, int) {
        return ScriptedServer::Reply{reply, ending, paceMs};
    });

    FileDownloader downloader;
    downloader.setStallTimeout(300ms);
    downloader.setRetryWait(20ms);
    downloader.setLowestSpeed({1024, 400ms});
    QElapsedTimer clock;
    clock.start();
    const DownloadResult result =
        downloader.download(server.url(QStringLiteral("/f")), directory.filePath(Target));
    verifyOutcome(result, failure, directory.path(), true, QByteArray(1000, 'x'));
    QVERIFY2(clock.elapsed() < 5000, "a stall must end after the stall time-out");
}

void TestFileDownload::addressFailures_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<DownloadFailure>("failure");

    QTest::newRow("refused port") << QString() << DownloadFailure::ConnectionRefused;
    QTest::newRow("unknown host") << "http://quorrin-test.invalid/f.bin"
                                  << DownloadFailure::HostNotFound;
    QTest::newRow("local file address")
        << "file:///etc/hostname" << DownloadFailure::UnsupportedAddress;
    QTest::newRow("other scheme") << "gopher://127.0.0.1/f" << DownloadFailure::UnsupportedAddress;
    QTest::newRow("no scheme") << "127.0.0.1/f.bin" << DownloadFailure::UnsupportedAddress;
}

void TestFileDownload::addressFailures()
{
    QFETCH(QString, url);
    QFETCH(DownloadFailure, failure);
    const ClosedPort closed;
    if (url.isEmpty())
        url = QStringLiteral("http://127.0.0.1:%1/f.bin").arg(closed.port());
    QTemporaryDir directory;
    writeFile(directory.filePath(Target), OldContent);

    const DownloadResult result = FileDownloader().download(url, directory.filePath(Target));
    verifyOutcome(result, failure, directory.path(), true, {});
}

void TestFileDownload::unwritableTargets_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<DownloadFailure>("failure");

    QTest::newRow("missing directory") << "absent/file.bin" << DownloadFailure::TargetNotWritable;
    QTest::newRow("read-only directory") << "locked/file.bin" << DownloadFailure::TargetNotWritable;
    QTest::newRow("directory at the path") << "occupied" << DownloadFailure::TargetIsDirectory;
    QTest::newRow("path ending in a separator")
        << "occupied/" << DownloadFailure::TargetIsDirectory;
    QTest::newRow("no name at all") << "" << DownloadFailure::TargetNotWritable;
}

void TestFileDownload::unwritableTargets()
{
    QFETCH(QString, target);
    QFETCH(DownloadFailure, failure);
    QTemporaryDir directory;
    const QDir root(directory.path());
    QVERIFY(root.mkdir(QStringLiteral("occupied")) && root.mkdir(QStringLiteral("locked")));
    const QString locked = root.filePath(QStringLiteral("locked"));
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    const auto unlock = qScopeGuard([&] { QFile::setPermissions(locked, QFile::WriteOwner); });
    bool boundReadOnly = false;
    const auto unmount = qScopeGuard([&] {
        if (boundReadOnly)
            QProcess::execute(QStringLiteral("umount"), {locked});
    });
    if (target.startsWith(QLatin1String("locked")) && ::access(qPrintable(locked), W_OK) == 0) {
        // Root writes whatever the permission bits say; a read-only mount stops root too.
        boundReadOnly = QProcess::execute(
                            QStringLiteral("mount"),
                            {QStringLiteral("-o"), QStringLiteral("bind,ro"), locked, locked}) == 0;
        if (!boundReadOnly)
            QSKIP("this user may write into a read-only directory and cannot mount one");
    }

    const int requestsBefore = requestCount();
    const QString path = target.isEmpty() ? QString() : root.filePath(target);
    const DownloadResult result =
        FileDownloader().download(m_http->url(QStringLiteral("/file")), path);
    QCOMPARE(result.failure, failure);
    QVERIFY(!result.cause.isEmpty());
    QCOMPARE(requestCount(), requestsBefore); // refused before anything was sent
    QCOMPARE(entriesOf(directory.path()),
             (QStringList{QStringLiteral("locked"), QStringLiteral("occupied")}));
    QCOMPARE(entriesOf(root.filePath(QStringLiteral("occupied"))), QStringList{});
}

void TestFileDownload::wildcardCharactersAreLiteral_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("existing");
    QTest::newRow("question mark") << "a?.bin" << false;
    QTest::newRow("star") << "*.bin" << false;
    QTest::newRow("existing star file replaced") << "*.bin" << true;
}

void TestFileDownload::wildcardCharactersAreLiteral()
{
    QFETCH(QString, name);
    QFETCH(bool, existing);
    QTemporaryDir directory;
    const QDir root(directory.path());
    QStringList others{QStringLiteral("a1.bin"), QStringLiteral("ab.bin")};
    for (const QString &other : others)
        writeFile(root.filePath(other), OldContent);
    if (existing)
        writeFile(root.filePath(name), OldContent);

    QVERIFY(
        FileDownloader().download(m_http->url(QStringLiteral("/file")), root.filePath(name)).ok);
    QCOMPARE(contentOf(root.filePath(name)), m_payload);
    for (const QString &other : others)
        QCOMPARE(contentOf(root.filePath(other)), OldContent);
    others << name;
    others.sort();
    QCOMPARE(entriesOf(root.path()), others);
}

void TestFileDownload::fullDisk()
{
    QTemporaryDir directory;
    const QString small = directory.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkdir(small));
    const int mounted =
        QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=256k"), QStringLiteral("tmpfs"), small});
    if (mounted != 0)
        QSKIP("cannot mount a small file system here (needs root)");
    const auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {small}); });
    writeFile(QDir(small).filePath(Target), OldContent);

    const DownloadResult result = FileDownloader().download(m_http->url(QStringLiteral("/file")),
                                                            QDir(small).filePath(Target));
    verifyOutcome(result, DownloadFailure::DiskFull, small, true, {});
}

void TestFileDownload::ftp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<DownloadFailure>("failure");
    QTest::newRow("whole file") << "file.bin" << DownloadFailure::None;
    QTest::newRow("space and accent in the name") << "été 1.bin" << DownloadFailure::None;
    QTest::newRow("missing file") << "absent.bin" << DownloadFailure::RemoteFileNotFound;
    QTest::newRow("cut, then resumed") << "file.bin" << DownloadFailure::None;
}

void TestFileDownload::ftp()
{
    QFETCH(QString, name);
    QFETCH(DownloadFailure, failure);
    const bool cut = QByteArray(QTest::currentDataTag()).startsWith("cut");
    QTemporaryDir served;
    QTemporaryDir logs;
    const QString restLog = logs.filePath("rest.log");
    for (const QString &file : {QStringLiteral("file.bin"), QStringLiteral("été 1.bin")})
        writeFile(served.filePath(file), m_payload);
    std::unique_ptr<ChildServer> server;
    try {
        server = cut ? startFtpServer(served.path(), 300 * 1024, restLog)
                     : startFtpServer(served.path());
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
    QTemporaryDir directory;
    const QString url = QStringLiteral("ftp://127.0.0.1:%1/%2").arg(server->port()).arg(name);
    FileDownloader downloader;
    downloader.setRetryWait(10ms);
    const DownloadResult result = downloader.download(url, directory.filePath(Target));
    verifyOutcome(result, failure, directory.path(), false, m_payload);
    if (cut) // the second try went on from what the first one brought
        QVERIFY(contentOf(restLog).startsWith("REST "));
}

void TestFileDownload::rejectsUntrustedCertificate()
{
    QTemporaryDir scratch;
    std::unique_ptr<ChildServer> server;
    try {
        server = startSelfSignedTlsServer(scratch.path());
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
    QTemporaryDir directory;
    const QString url = QStringLiteral("https://127.0.0.1:%1/").arg(server->port());
    const DownloadResult result = FileDownloader().download(url, directory.filePath(Target));
    verifyOutcome(result, DownloadFailure::CertificateRejected, directory.path(), false, {});
}

void TestFileDownload::reusesConnection()
{
    {
        const std::lock_guard lock(m_mutex);
        m_clientPorts.clear();
    }
    QTemporaryDir directory;
    FileDownloader downloader;
    for (const QString &name : {QStringLiteral("one.bin"), QStringLiteral("two.bin")}) {
        const DownloadResult result =
            downloader.download(m_http->url(QStringLiteral("/file")), directory.filePath(name));
        QVERIFY2(result.ok, qPrintable(result.cause));
    }
    const std::lock_guard lock(m_mutex);
    QCOMPARE(m_clientPorts.size(), std::size_t(1));
    QCOMPARE(m_userAgent, std::string("Quorrin/" QUORRIN_VERSION));
}

// A proxy that the environment names carries the request for the address as given.
void TestFileDownload::proxyFromEnvironment()
{
    ScriptedServer proxy([](const QByteArray &request, int) {
        const bool forwarded = request.startsWith("GET http://quorrin.invalid/file HTTP/1.1\r\n");
        return ScriptedServer::Reply{forwarded ? replyAnnouncing(7, "proxied")
                                               : QByteArray("HTTP/1.1 400 Bad Request\r\n"
                                                            "Content-Length: 0\r\n\r\n")};
    });
    qputenv("http_proxy", proxy.url({}).toLatin1());
    const auto unset = qScopeGuard([] { qunsetenv("http_proxy"); });
    QTemporaryDir directory;
    TransferOptions options;
    options.userAgent = "Proxied"; // a handle of its own kind, set up with this environment
    std::unique_ptr<Transfer> transfer(startDownload(QStringLiteral("http://quorrin.invalid/file"),
                                                     directory.filePath("file"), options, nullptr));
    QSignalSpy finished(transfer.get(), &Transfer::finished);
    QVERIFY(finished.wait(10000));
    const auto result = finished.at(0).at(0).value<DownloadResult>();
    QVERIFY2(result.ok, qPrintable(result.cause));
    QCOMPARE(contentOf(directory.filePath("file")), QByteArray("proxied"));
}

void TestFileDownload::reportsProgressAndCancels()
{
    ScriptedServer server(replyAnnouncing(1000, QByteArray(400, 'x')),
                          ScriptedServer::Ending::Stall);
    QTemporaryDir directory;
    qint64 lastReceived = -1;
    qint64 lastTotal = -1;
    const auto progress = [&](qint64 received, qint64 total) {
        lastReceived = received;
        lastTotal = total;
        return received < 400; // abandons once the server has sent what it will
    };
    QElapsedTimer clock;
    clock.start();
    const DownloadResult result = FileDownloader().download(server.url(QStringLiteral("/f")),
                                                            directory.filePath(Target), progress);
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(lastReceived, qint64(400));
    QCOMPARE(lastTotal, qint64(1000));
    verifyOutcome(result, DownloadFailure::Cancelled, directory.path(), false, {});
}

void TestFileDownload::resumesInterruptedTransfers_data()
{
    QTest::addColumn<Scenario>("scenario");
    QTest::addColumn<DownloadFailure>("failure");
    QTest::addColumn<bool>("changed");    // the server's file is another one by the end
    QTest::addColumn<bool>("resumed");    // a later request asks for a range
    QTest::addColumn<bool>("economical"); // at most 15 % more bytes sent than the file has

    using Reply = ScriptedServer::Reply;
    const auto cutEvery = [](qint64 bytes, const QByteArray &etag, const QByteArray &modified) {
        return [=](ResumableFile &file, const QByteArray &request, int) {
            file.cutAfter = bytes;
            file.etag = etag;
            file.lastModified = modified;
            return file.answer(request);
        };
    };
    const auto cutOnceThen = [](std::function<Reply(ResumableFile &, const QByteArray &)> then,
                                const QByteArray &etag = "\"v1\"") {
        return [=](ResumableFile &file, const QByteArray &request, int index) {
            file.etag = etag;
            if (index > 0)
                return then(file, request);
            file.cutAfter = 300 * 1024;
            file.cutAnswers = 1;
            return file.answer(request);
        };
    };
    const auto changeFile = [](const QByteArray &etag) {
        return [=](ResumableFile &file, const QByteArray &request) {
            file.content = QByteArray(file.content.size() + 7, 'n');
            file.etag = etag;
            return file.answer(request);
        };
    };
    const auto fixed = [](const QByteArray &bytes) {
        return [=](ResumableFile &file, const QByteArray &request) {
            file.rangesAsked << (request.contains("Range:") ? "asked" : "");
            return Reply{bytes};
        };
    };
    const auto none = DownloadFailure::None;
    const QByteArray modified = "Tue, 01 Dec 2026 10:00:00 GMT";

    QTest::newRow("cut every 256 KiB, strong ETag")
        << Scenario(cutEvery(256 * 1024, "\"v1\"", {})) << none << false << true << true;
    QTest::newRow("cut every 256 KiB, Last-Modified only")
        << Scenario(cutEvery(256 * 1024, {}, modified)) << none << false << true << true;
    QTest::newRow("ranges ignored: starts over")
        << Scenario(cutOnceThen([](ResumableFile &file, const QByteArray &request) {
               file.honoursRanges = false;
               return file.answer(request);
           }))
        << none << false << true << false;
    QTest::newRow("part starts before the offset")
        << Scenario(cutOnceThen([](ResumableFile &file, const QByteArray &request) {
               file.alignment = 256 * 1024;
               return file.answer(request);
           }))
        << none << false << true << true;
    QTest::newRow("file changed between tries")
        << Scenario(cutOnceThen(changeFile("\"v2\""))) << none << true << true << false;
    QTest::newRow("weak ETag, file changed")
        << Scenario(cutOnceThen(changeFile("W/\"v2\""), "W/\"v1\"")) << none << true << false
        << false;
    // A server or cache that ignores If-Range sends a part of another version.
    QTest::newRow("206 under another ETag")
        << Scenario(cutOnceThen([](ResumableFile &file, const QByteArray &request) {
               file.content = QByteArray(file.content.size(), 'n');
               file.etag = "\"v2\"";
               file.ignoresIfRange = true;
               return file.answer(request);
           }))
        << none << true << true << false;
    QTest::newRow("206 under another Last-Modified")
        << Scenario([=](ResumableFile &file, const QByteArray &request, int index) {
               file.lastModified = modified;
               if (index == 0) {
                   file.cutAfter = 300 * 1024;
                   file.cutAnswers = 1;
               } else {
                   file.content = QByteArray(file.content.size(), 'n');
                   file.lastModified = "Wed, 02 Dec 2026 10:00:00 GMT";
                   file.ignoresIfRange = true;
               }
               return file.answer(request);
           })
        << none << true << true << false;
    // The same version, by its ETag, but not the whole of it: the bytes held stay, and the
    // tries that bring nothing more end the transfer.
    QTest::newRow("200 with a slice under the same ETag")
        << Scenario(cutOnceThen([fixed](ResumableFile &file, const QByteArray &request) {
               const qint64 total = file.content.size();
               return fixed("HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nContent-Range: bytes " +
                            QByteArray::number(total / 2) + '-' + QByteArray::number(total - 1) +
                            '/' + QByteArray::number(total) +
                            "\r\nContent-Length: " + QByteArray::number(total - total / 2) +
                            "\r\n\r\n" + file.content.mid(total / 2))(file, request);
           }))
        << DownloadFailure::InconsistentAnswer << false << true << false;
    QTest::newRow("200 without a body under the same ETag")
        << Scenario(
               cutOnceThen(fixed("HTTP/1.1 200 OK\r\nETag: \"v1\"\r\nContent-Length: 0\r\n\r\n")))
        << DownloadFailure::InconsistentAnswer << false << true << false;
    QTest::newRow("416 to the range")
        << Scenario(cutOnceThen([](ResumableFile &file, const QByteArray &request) {
               if (file.rangesAsked.size() == 1 && request.contains("Range:")) {
                   file.rangesAsked << "416";
                   return Reply{"HTTP/1.1 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n"};
               }
               return file.answer(request);
           }))
        << none << false << true << false;
    QTest::newRow("503 with Retry-After, then the file")
        << Scenario([](ResumableFile &file, const QByteArray &request, int index) {
               if (index == 0)
                   return Reply{"HTTP/1.1 503 Busy\r\nRetry-After: 1\r\nContent-Length: 0\r\n\r\n"};
               return file.answer(request);
           })
        << none << false << false << false;
    QTest::newRow("file gone after a cut")
        << Scenario(cutOnceThen(fixed("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")))
        << DownloadFailure::HttpError << false << true << false;
    const auto always = [](const QByteArray &bytes) {
        return [=](ResumableFile &, const QByteArray &, int) { return Reply{bytes}; };
    };
    QTest::newRow("206 to a request without a range")
        << Scenario(always("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99/1000\r\n"
                           "Content-Length: 100\r\n\r\n" +
                           QByteArray(100, 'p')))
        << DownloadFailure::UnexpectedAnswer << false << false << false;
    QTest::newRow("204 no content") << Scenario(always("HTTP/1.1 204 No Content\r\n\r\n"))
                                    << DownloadFailure::UnexpectedAnswer << false << false << false;
}

void TestFileDownload::resumesInterruptedTransfers()
{
    QFETCH(Scenario, scenario);
    QFETCH(DownloadFailure, failure);
    QFETCH(bool, changed);
    QFETCH(bool, resumed);
    QFETCH(bool, economical);
    QTemporaryDir directory;
    ResumableFile file;
    file.content = m_payload;
    DownloadResult result;
    {
        ScriptedServer server(
            [&](const QByteArray &request, int index) { return scenario(file, request, index); });
        FileDownloader downloader;
        downloader.setRetryWait(10ms);
        result = downloader.download(server.url(QStringLiteral("/f")), directory.filePath(Target));
    } // the server's thread has ended: `file` is the test's alone
    verifyOutcome(result, failure, directory.path(), false, changed ? file.content : m_payload);
    if (economical)
        QVERIFY2(file.bytesSent <= m_payload.size() * 115 / 100, "resumed, not fetched again");
    const bool asked = std::any_of(file.rangesAsked.begin(), file.rangesAsked.end(),
                                   [](const QByteArray &range) { return !range.isEmpty(); });
    QCOMPARE(asked, resumed);
    if (failure != DownloadFailure::None && file.rangesAsked.size() > 1)
        QVERIFY(result.cause.contains(QStringLiteral("%1 essais").arg(file.rangesAsked.size())));
}

// The retry is sent elsewhere, and that server answers the range with its own version.
void TestFileDownload::resumeRedirectedToAnotherVersion()
{
    ResumableFile mirror;
    mirror.content = QByteArray(m_payload.size(), 'm');
    mirror.etag = "\"mirror\"";
    mirror.ignoresIfRange = true;
    ResumableFile origin;
    origin.content = m_payload;
    origin.etag = "\"v1\"";
    origin.cutAfter = 300 * 1024;
    QTemporaryDir directory;
    DownloadResult result;
    {
        ScriptedServer other(
            [&](const QByteArray &request, int) { return mirror.answer(request); });
        const QByteArray location = other.url(QStringLiteral("/f")).toUtf8();
        ScriptedServer first([&](const QByteArray &request, int index) {
            if (index == 0)
                return origin.answer(request);
            return ScriptedServer::Reply{"HTTP/1.1 302 Found\r\nLocation: " + location +
                                         "\r\nContent-Length: 0\r\n\r\n"};
        });
        FileDownloader downloader;
        downloader.setRetryWait(10ms);
        result = downloader.download(first.url(QStringLiteral("/f")), directory.filePath(Target));
    }
    verifyOutcome(result, DownloadFailure::None, directory.path(), false, mirror.content);
    QVERIFY(mirror.rangesAsked.value(0).startsWith("bytes="));
}

void TestFileDownload::httpsNeverRedirectsToClearText()
{
    QTemporaryDir scratch;
    const int before = requestCount();
    std::unique_ptr<ChildServer> server;
    try {
        server = startRedirectingTlsServer(scratch.path(), m_http->url(QStringLiteral("/file")));
    } catch (const std::exception &error) {
        QFAIL(error.what());
    }
    QTemporaryDir directory;
    TransferOptions options;
    options.certificateAuthorities = QFile::encodeName(scratch.filePath("certificate.pem"));
    std::unique_ptr<Transfer> transfer(
        startDownload(QStringLiteral("https://127.0.0.1:%1/f").arg(server->port()),
                      directory.filePath(Target), options, nullptr));
    QSignalSpy finished(transfer.get(), &Transfer::finished);
    QVERIFY(finished.wait(20000));
    const auto result = finished.at(0).at(0).value<DownloadResult>();
    verifyOutcome(result, DownloadFailure::InsecureRedirect, directory.path(), false, {});
    QCOMPARE(requestCount(), before);
}

void TestFileDownload::swappedPartFileNeverLands_data()
{
    QTest::addColumn<QString>("swap");
    QTest::newRow("moved away, another file in its place") << "file";
    QTest::newRow("replaced by a symbolic link") << "link";
    QTest::newRow("removed") << "none";
}

// Another program takes the part file's name during the transfer: what lands, if anything,
// is never its file.
void TestFileDownload::swappedPartFileNeverLands()
{
    QFETCH(QString, swap);
    // Enough for the part file to get its name long before the end.
    const QByteArray body(200000, 'b');
    ScriptedServer server([&](const QByteArray &, int) {
        return ScriptedServer::Reply{"HTTP/1.1 200 OK\r\nETag: \"v1\"\r\n"
                                     "Content-Length: 200000\r\n\r\n" +
                                         body,
                                     ScriptedServer::Ending::Close, 10, 2000};
    });
    QTemporaryDir directory;
    const QString target = directory.filePath(Target);
    const QString part = target + ".part";
    writeFile(directory.filePath("elsewhere"), OldContent);
    TransferOptions options;
    options.keepPartial = true;
    std::unique_ptr<Transfer> transfer(
        startDownload(server.url(QStringLiteral("/f")), target, options, nullptr));
    QSignalSpy finished(transfer.get(), &Transfer::finished);
    QTRY_VERIFY(QFileInfo(part).size() > 0);
    QVERIFY(QFile::rename(part, directory.filePath("moved.part")));
    if (swap == QLatin1String("file"))
        writeFile(part, OldContent);
    else if (swap == QLatin1String("link"))
        QVERIFY(QFile::link(directory.filePath("elsewhere"), part));
    QVERIFY(finished.wait(20000));
    const auto result = finished.at(0).at(0).value<DownloadResult>();
    QCOMPARE(result.failure, DownloadFailure::PartFileReplaced);
    QVERIFY(!QFileInfo(target).exists() && !QFileInfo(target).isSymLink());
    if (swap == QLatin1String("file"))
        QCOMPARE(contentOf(part), OldContent);
    if (swap == QLatin1String("link"))
        QVERIFY(QFileInfo(part).isSymLink());
    QCOMPARE(contentOf(directory.filePath("elsewhere")), OldContent);
}

void TestFileDownload::cancelHasOneAnswer_data()
{
    QTest::addColumn<bool>("keepData");
    QTest::newRow("cancel") << false;
    QTest::newRow("stop") << true;
}

// Stopping a transfer at any moment around its end, its commit included, has one answer:
// either it stopped, with nothing at its target and nothing reported, or it reports its file.
void TestFileDownload::cancelHasOneAnswer()
{
    QFETCH(bool, keepData);
    constexpr int Rounds = 300;
    QTemporaryDir directory;
    std::vector<std::unique_ptr<Transfer>> transfers;
    std::vector<bool> stopped(Rounds);
    std::vector<int> reports(Rounds);
    std::vector<bool> landed(Rounds);
    QRandomGenerator random(Rounds);
    const QString url = m_http->url(QStringLiteral("/empty"));
    for (int round = 0; round < Rounds; ++round) {
        transfers.emplace_back(startDownload(url, directory.filePath(QString::number(round)),
                                             TransferOptions(), nullptr));
        connect(transfers.back().get(), &Transfer::finished, this,
                [&, round](const DownloadResult &result) {
                    ++reports[round];
                    landed[round] = result.ok;
                });
        // Anywhere from before the request to after the file has landed.
        QElapsedTimer clock;
        clock.start();
        const qint64 wait = random.bounded(4000) * 1000;
        while (clock.nsecsElapsed() < wait) {
        }
        stopped[round] = keepData ? transfers.back()->stop() : transfers.back()->cancel();
    }
    for (int round = 0; round < Rounds; ++round)
        if (!stopped[round])
            QTRY_COMPARE(reports[round], 1);
    QTest::qWait(200); // time for a report that should not come
    int landings = 0;
    for (int round = 0; round < Rounds; ++round) {
        const bool there = QFileInfo::exists(directory.filePath(QString::number(round)));
        QVERIFY2(there == (reports[round] == 1 && landed[round]),
                 qPrintable(QString::number(round)));
        QCOMPARE(reports[round], stopped[round] ? 0 : 1);
        landings += there;
    }
    qInfo("%d of %d rounds stopped, %d landed",
          int(std::count(stopped.begin(), stopped.end(), true)), Rounds, landings);
    QTRY_COMPARE(entriesOf(directory.path()).size(), landings);
}

QTEST_GUILESS_MAIN(TestFileDownload)
#include "tst_filedownload.moc"
