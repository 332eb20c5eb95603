#include "http2measure.h"

#include "batchmeasure.h"
#include "delayingproxy.h"
#include "nginxserver.h"
#include "privatemounts.h"
#include "testauthority.h"
#include "waycomparison.h"

#include <QDir>
#include <QUrl>

#include <cstdio>

namespace quorrin::bench {
namespace {

// Where libcurl (and the curl tool) on Debian find the authorities they trust.
const QString SystemBundle = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
// The curl tool's number of transfers at once with -Z, unless --parallel-max says otherwise.
constexpr int CurlParallelDefault = 50;

} // namespace

bool measureHttp2(const Setup &setup, const QString &scratch, const Http2Case &batch)
{
    const std::optional<TestAuthority> authority =
        makeTestAuthority(QDir(scratch).filePath(QStringLiteral("authority")), SystemBundle);
    if (!authority)
        return false;
    // The bundle is shown at the system's path to this process and its children, or to each
    // fetching process in a namespace of its own.
    std::optional<PrivateMount> shown;
    BatchOptions options;
    if (batch.privateMounts) {
        shown.emplace(authority->bundle, SystemBundle);
        if (!shown->isMounted()) {
            std::fprintf(stderr, "cannot show the test authority at %s: %s\n",
                         qPrintable(SystemBundle), qPrintable(shown->error()));
            return false;
        }
    } else {
        options.launcher = commandWithFileShown(authority->bundle, SystemBundle);
    }

    const QString serverScratch = QDir(scratch).filePath(QStringLiteral("nginx-http2"));
    if (!QDir().mkpath(serverScratch))
        return false;
    NginxOptions serving;
    serving.certificate = authority->certificate;
    serving.key = authority->key;
    serving.logRequests = true;
    NginxServer server(serverScratch, setup.served, serving);
    DelayingProxy proxy(QUrl(server.url(QStringLiteral("x"))).port(),
                        std::chrono::milliseconds(batch.delayMs));
    const Setup here{setup.self, server, setup.served, setup.downloads, setup.runs};
    options.files = batch.files;
    options.fileBytes = batch.fileBytes;
    options.name = QStringLiteral("http2");
    options.through = [&proxy](const QString &url) { return proxy.through(url); };
    std::printf("\nPreparing %d files of %lld bytes...\n", batch.files, batch.fileBytes);
    std::fflush(stdout);
    const std::optional<Batch> files = prepareBatch(here, options);
    if (!files)
        return false;

    // The fetching processes trust the authority, or nothing below can work.
    const ProcessCost check = runMeasured(
        options.launcher +
        QStringList{QStringLiteral("curl"), QStringLiteral("-sSf"), QStringLiteral("-o"),
                    QStringLiteral("/dev/null"),
                    options.through(server.url(options.name + u'/' + files->names.front()))});
    if (check.exitCode != 0) {
        std::fprintf(stderr, "curl does not reach the server over TLS with the test authority\n");
        return false;
    }

    const std::vector<Way> ways{
        {QStringLiteral("Quorrin's window"),
         [&](int run) { return runOurs(here, options, *files, QStringLiteral("window"), run); }},
        {QStringLiteral("curl -Z"),
         [&](int run) -> std::optional<ProcessCost> {
             const std::optional<PeerRun> result =
                 runCurl(here, options, *files, QStringLiteral("curl-Z"), run,
                         {QStringLiteral("-Z"), QStringLiteral("--no-progress-meter")});
             return result ? std::optional(result->transfer) : std::nullopt;
         }},
    };
    std::printf("\nHTTPS with HTTP/2 through a relay that delays each direction by %d ms; the "
                "test authority shown %s; curl -Z at its default of %d transfers at once:\n",
                batch.delayMs,
                batch.privateMounts ? "in the benchmark's own mount namespace"
                                    : "in a namespace of each fetching process",
                CurlParallelDefault);
    std::fflush(stdout);
    const std::optional<std::vector<WayFigures>> figures = runWays(ways, setup.runs, &server);
    if (!figures)
        return false;
    std::printf("\n%d files of %lld bytes over HTTPS, %d ms each way, median of %d runs:\n",
                batch.files, batch.fileBytes, batch.delayMs, setup.runs);
    printWays(ways, *figures);

    // Whether Quorrin's engine spoke HTTP/2 for every request of every run.
    int requests = 0;
    int overHttp2 = 0;
    for (const ServedRequests &served : figures->front().served) {
        requests += served.requests;
        overHttp2 += served.protocols.value(QStringLiteral("HTTP/2.0"));
    }
    std::printf("  Quorrin's window: %d of its %d requests over HTTP/2\n", overHttp2, requests);
    std::fflush(stdout);
    return true;
}

} // namespace quorrin::bench
