// Measures Quorrin's downloads against the curl tool on loopback, served by nginx.
//   bench_download [--size-mib N] [--batch-files N] [--runs N] [--scratch DIRECTORY]
//                  [--child-prefix "TOOL ARGUMENTS"] [--cut-mib N]
//                  [--latency-ms N] [--latency-files N] [--latency-kib N]
// Two measurements: one large file (--size-mib, 1024 by default), and a batch of 4 KiB files
// (--batch-files, 1000 by default) through Quorrin's window; 0 skips either. The child prefix
// runs our batch runs under a tool, such as "strace -f -c -w -o /tmp/%w.strace" (%w: window or
// downloader).
// With --cut-mib, a third: the large file through a relay that cuts the connection every N MiB,
// against the same relay uncut.
// With --latency-ms, a fourth: a batch (--latency-files, 200, of --latency-kib, 16 KiB) through
// a relay that delays each direction by N ms, as a far server would, through Quorrin's window,
// aria2c -j5, curl -Z --parallel-max 6 and one sequential curl process.
// Not a test: it prints figures and fails only when a download fails.

#include "batchmeasure.h"
#include "cuttingproxy.h"
#include "delayingproxy.h"
#include "filedownload.h"
#include "measurement.h"
#include "nginxserver.h"
#include "patternfile.h"
#include "processmeasure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace quorrin;
using namespace quorrin::bench;

namespace {

struct Options {
    qint64 sizeMiB = 1024;
    BatchOptions batch;
    int runs = 3;
    QString scratch = QDir::tempPath();
    qint64 cutMiB = 0;
    int latencyMs = 0;
    int latencyFiles = 200;
    qint64 latencyKiB = 16;
};

// In the child process: one DownloadFile, as Quorrin makes it.
int fetch(const QString &url, const QString &path)
{
    const DownloadResult result = DownloadToFile(url, path);
    if (!result.ok)
        std::fprintf(stderr, "%s\n", qPrintable(result.cause));
    return result.ok ? 0 : 1;
}

ProcessCost downloadWithQuorrin(const Setup &setup, const QString &name, const QString &target)
{
    return runMeasured({setup.self, QStringLiteral("--fetch"), setup.server.url(name), target});
}

ProcessCost downloadWithCurl(const Setup &setup, const QString &name, const QString &target)
{
    return runMeasured({QStringLiteral("curl"), QStringLiteral("-sSf"), QStringLiteral("-o"),
                        target, setup.server.url(name)});
}

// One large file, fetched by DownloadFile in a process of its own and by `curl -o`, in turn.
bool measureLargeFile(const Setup &setup, qint64 sizeMiB)
{
    const QString name = QStringLiteral("large.bin");
    const QString small = QStringLiteral("small.bin");
    const QString served = QDir(setup.served).filePath(name);
    std::printf("Preparing a %lld MiB file...\n", sizeMiB);
    std::fflush(stdout);
    if (!makePatternFile(served, sizeMiB << 20) ||
        !makePatternFile(QDir(setup.served).filePath(small), 1 << 20))
        return false;
    const QString target = QDir(setup.downloads).filePath(name);

    std::vector<double> ours, curl, curlSynced;
    long oursPeak = 0, curlPeak = 0;
    for (int run = 0; run < setup.runs; ++run) {
        const ProcessCost quorrin = downloadWithQuorrin(setup, name, target);
        if (quorrin.exitCode != 0 || (run == 0 && !sameContent(served, target)))
            return false;
        QFile::remove(target);
        const ProcessCost tool = downloadWithCurl(setup, name, target);
        // DownloadFile returns once the data is on the disk; curl -o does not wait for that.
        const ProcessCost flush = runMeasured({QStringLiteral("sync"), target});
        if (tool.exitCode != 0 || flush.exitCode != 0)
            return false;
        QFile::remove(target);
        std::printf("run %d: DownloadFile %.3f s, %ld KiB peak; curl -o %.3f s, %ld KiB peak; "
                    "then sync %.3f s\n",
                    run + 1, quorrin.seconds, quorrin.peakKiB, tool.seconds, tool.peakKiB,
                    flush.seconds);
        std::fflush(stdout);
        ours.push_back(quorrin.seconds);
        curl.push_back(tool.seconds);
        curlSynced.push_back(tool.seconds + flush.seconds);
        oursPeak = std::max(oursPeak, quorrin.peakKiB);
        curlPeak = std::max(curlPeak, tool.peakKiB);
    }
    // The same program fetching a small file shows whether memory grows with the size.
    const QString smallTarget = QDir(setup.downloads).filePath(small);
    const ProcessCost smallFetch = downloadWithQuorrin(setup, small, smallTarget);
    QFile::remove(smallTarget);

    const double oursMedian = median(ours), curlMedian = median(curl);
    std::printf("\n%lld MiB over loopback, median of %d runs:\n", sizeMiB, setup.runs);
    std::printf("  DownloadFile  %.3f s  (%.0f MiB/s)  peak %ld KiB (%ld KiB for 1 MiB)\n",
                oursMedian, double(sizeMiB) / oursMedian, oursPeak, smallFetch.peakKiB);
    std::printf("  curl -o       %.3f s  (%.0f MiB/s)  peak %ld KiB\n", curlMedian,
                double(sizeMiB) / curlMedian, curlPeak);
    std::printf("  curl -o; sync %.3f s  (the same guarantee as DownloadFile: data on disk)\n",
                median(curlSynced));
    std::printf("  ratio DownloadFile / curl -o: %.3f (goal <= 1.05)\n", oursMedian / curlMedian);
    std::printf("  ratio DownloadFile / curl -o; sync: %.3f\n", oursMedian / median(curlSynced));
    return smallFetch.exitCode == 0;
}

// The large file through a relay that drops the connection every `cutMiB`, and through the
// same relay uncut: what the retries and resumes cost in bytes and in time.
bool measureCutLink(const Setup &setup, qint64 sizeMiB, qint64 cutMiB)
{
    const QString name = QStringLiteral("large.bin");
    const QString served = QDir(setup.served).filePath(name);
    const QString target = QDir(setup.downloads).filePath(name);
    std::vector<double> cut, uncut;
    qint64 cutBytes = 0;
    for (int run = 0; run < setup.runs; ++run) {
        for (const qint64 every : {qint64(0), cutMiB << 20}) {
            CuttingProxy proxy(QUrl(setup.server.url(name)).port(), every);
            const ProcessCost cost = runMeasured({setup.self, QStringLiteral("--fetch"),
                                                  proxy.through(setup.server.url(name)), target});
            if (cost.exitCode != 0 || !sameContent(served, target))
                return false;
            QFile::remove(target);
            (every ? cut : uncut).push_back(cost.seconds);
            if (every)
                cutBytes = std::max(cutBytes, proxy.relayed());
            std::printf("run %d: %s %.3f s, %lld bytes relayed\n", run + 1, every ? "cut" : "uncut",
                        cost.seconds, proxy.relayed());
            std::fflush(stdout);
        }
    }
    std::printf("\n%lld MiB through a relay, cut every %lld MiB, median of %d runs:\n", sizeMiB,
                cutMiB, setup.runs);
    std::printf("  uncut %.3f s, cut %.3f s: ratio %.3f (goal <= 1.2)\n", median(uncut),
                median(cut), median(cut) / median(uncut));
    std::printf("  received at most %.3f times the size (goal <= 1.05)\n",
                double(cutBytes) / double(sizeMiB << 20));
    return true;
}

// A batch from a server far away: every round trip costs the relay's two delays.
bool measureLatency(const Setup &setup, const Options &options)
{
    DelayingProxy proxy(QUrl(setup.server.url(QStringLiteral("x"))).port(),
                        std::chrono::milliseconds(options.latencyMs));
    BatchOptions batch = options.batch;
    batch.files = options.latencyFiles;
    batch.fileBytes = options.latencyKiB * 1024;
    batch.through = [&proxy](const QString &url) { return proxy.through(url); };
    batch.parallelPeers = true;
    std::printf("\nThrough a relay that delays each direction by %d ms:", options.latencyMs);
    return measureBatch(setup, batch);
}

// Other programs share the machine; the figures mean little without the load they ran under.
void printLoad(const char *when)
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (file.open(QIODevice::ReadOnly))
        std::printf("Load average %s: %s\n", when, file.readLine().trimmed().constData());
    std::fflush(stdout);
}

Options parseOptions(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == QLatin1String("--size-mib"))
            options.sizeMiB = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--batch-files"))
            options.batch.files = std::max(0, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--child-prefix"))
            options.batch.childPrefix = arguments[i + 1].split(u' ', Qt::SkipEmptyParts);
        else if (arguments[i] == QLatin1String("--runs"))
            options.runs = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--scratch"))
            options.scratch = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--cut-mib"))
            options.cutMiB = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--latency-ms"))
            options.latencyMs = arguments[i + 1].toInt();
        else if (arguments[i] == QLatin1String("--latency-files"))
            options.latencyFiles = std::max(1, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--latency-kib"))
            options.latencyKiB = std::max<qint64>(1, arguments[i + 1].toLongLong());
    }
    return options;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return fetch(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication application(argc, argv);
    const Options options = parseOptions(QCoreApplication::arguments());
    QTemporaryDir scratch(QDir(options.scratch).filePath(QStringLiteral("quorrin-bench-XXXXXX")));
    const QDir root(scratch.path());
    if (!scratch.isValid() || !root.mkpath(QStringLiteral("www")) ||
        !root.mkpath(QStringLiteral("downloads")))
        return 2;
    // A root master runs its workers as nobody, who must reach the served files.
    QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    printLoad("at the start");
    try {
        NginxServer server(scratch.path(), root.filePath(QStringLiteral("www")));
        const Setup setup{QCoreApplication::applicationFilePath(), server,
                          root.filePath(QStringLiteral("www")),
                          root.filePath(QStringLiteral("downloads")), options.runs};
        if ((options.sizeMiB > 0 && !measureLargeFile(setup, options.sizeMiB)) ||
            (options.batch.files > 0 && !measureBatch(setup, options.batch)) ||
            (options.cutMiB > 0 && options.sizeMiB > 0 &&
             !measureCutLink(setup, options.sizeMiB, options.cutMiB)) ||
            (options.latencyMs > 0 && !measureLatency(setup, options))) {
            std::fprintf(stderr, "a download failed or differs from the served file\n");
            return 1;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    printLoad("at the end");
    return 0;
}
