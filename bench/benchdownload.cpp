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
// Cases off by default, each fetched into a tmpfs (one mounted for the benchmark alone when it
// runs as root, else a directory under /dev/shm):
//   [--capped-mib N[,N...]] [--cap-rate RATE[,RATE...]] [--uncapped-mib N]
//   [--long-queue N] [--http2-ms N]
// --capped-mib: one file of N MiB from an nginx that holds each connection to --cap-rate (in
// nginx's words: 8m, the default, is 8 MiB/s; 50000000 is 50 MB/s; a list gives each size
// its rate), --uncapped-mib: the same without a limit; each through Quorrin's window (a queue
// of one entry), one curl, aria2c -x4 -s4, aria2c -x16 -s16 and aria2c -x16 -s16 -k1M, with
// the connections each opened. --long-queue: N files of 1 KiB through the window, curl -Z
// --parallel-max 6, one curl -K and aria2c -j5, with the window's peak memory an entry above
// its peak with 100 entries. --http2-ms: the latency batch over HTTPS with HTTP/2 through a
// relay that delays each direction by N ms, through the window and curl -Z at its defaults;
// the server's certificate is from an authority made for the run, which only the
// benchmark's processes trust (they see it in a bundle at the system's bundle path, in a
// mount namespace of their own).
// Not a test: it prints figures and fails only when a download fails.

#include "batchmeasure.h"
#include "cuttingproxy.h"
#include "delayingproxy.h"
#include "filedownload.h"
#include "http2measure.h"
#include "largefilemeasure.h"
#include "longqueuemeasure.h"
#include "measurement.h"
#include "nginxserver.h"
#include "patternfile.h"
#include "privatemounts.h"
#include "processmeasure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
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
    std::vector<LargeFileCase> largeFiles;
    int longQueue = 0;
    int http2Ms = 0;

    // Whether a case that fetches into a tmpfs is asked for.
    bool wantsTmpfs() const { return !largeFiles.empty() || longQueue > 0 || http2Ms > 0; }
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

// The capped sizes, each with its rate (the last rate given for the sizes after it).
std::vector<LargeFileCase> cappedFiles(const QString &sizes, const QString &rates)
{
    std::vector<LargeFileCase> files;
    const QStringList rateList = rates.split(u',', Qt::SkipEmptyParts);
    const QStringList sizeList = sizes.split(u',', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < sizeList.size() && !rateList.isEmpty(); ++i) {
        const qint64 size = sizeList[i].toLongLong();
        if (size > 0)
            files.push_back({size, rateList[std::min(i, rateList.size() - 1)]});
    }
    return files;
}

// Nothing when an argument is not one of the options, or an option has no value: a misspelt
// option would otherwise run the default measurements for minutes.
std::optional<Options> parseOptions(const QStringList &arguments)
{
    Options options;
    QString cappedSizes;
    QString capRates = QStringLiteral("8m");
    qint64 uncappedMiB = 0;
    if (arguments.size() % 2 == 0)
        return std::nullopt;
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
        else if (arguments[i] == QLatin1String("--capped-mib"))
            cappedSizes = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--cap-rate"))
            capRates = arguments[i + 1];
        else if (arguments[i] == QLatin1String("--uncapped-mib"))
            uncappedMiB = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--long-queue"))
            options.longQueue = std::max(0, arguments[i + 1].toInt());
        else if (arguments[i] == QLatin1String("--http2-ms"))
            options.http2Ms = std::max(0, arguments[i + 1].toInt());
        else
            return std::nullopt;
    }
    options.largeFiles = cappedFiles(cappedSizes, capRates);
    if (uncappedMiB > 0)
        options.largeFiles.push_back({uncappedMiB, QString()});
    return options;
}

// The directory of the cases that fetch into a tmpfs: a tmpfs mounted in the scratch
// directory `root`, seen by this process and its children alone, when it has a mount
// namespace of its own; else a new directory under /dev/shm. Says which.
std::optional<QString> tmpfsRuns(const QDir &root, bool privateMounts,
                                 std::optional<PrivateMount> &mount,
                                 std::optional<QTemporaryDir> &shared)
{
    const QString path = root.filePath(QStringLiteral("tmpfs"));
    if (privateMounts && root.mkpath(QStringLiteral("tmpfs"))) {
        mount.emplace(PrivateMount::Tmpfs{}, path);
        if (mount->isMounted()) {
            std::printf("\nThe cases below fetch into a tmpfs mounted at %s for this benchmark "
                        "alone.\n",
                        qPrintable(path));
            return path;
        }
        std::printf("\nNo tmpfs of our own at %s (%s).\n", qPrintable(path),
                    qPrintable(mount->error()));
        mount.reset();
    }
    shared.emplace(QStringLiteral("/dev/shm/quorrin-bench-runs-XXXXXX"));
    if (!shared->isValid()) {
        std::fprintf(stderr, "cannot make a directory under /dev/shm\n");
        return std::nullopt;
    }
    std::printf("\nThe cases below fetch into %s, under /dev/shm (a tmpfs).\n",
                qPrintable(shared->path()));
    return shared->path();
}

// The cases that fetch into a tmpfs, with their runs' directory there.
bool measureInTmpfs(const Setup &setup, const QString &scratch, const Options &options,
                    bool privateMounts)
{
    for (const LargeFileCase &file : options.largeFiles)
        if (!measureLargeFileCase(setup, scratch, file))
            return false;
    if (options.longQueue > 0 &&
        !measureLongQueue(setup, options.longQueue, options.batch.childPrefix))
        return false;
    if (options.http2Ms > 0) {
        Http2Case batch;
        batch.delayMs = options.http2Ms;
        batch.files = options.latencyFiles;
        batch.fileBytes = options.latencyKiB * 1024;
        batch.privateMounts = privateMounts;
        if (!measureHttp2(setup, scratch, batch))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--fetch") == 0)
        return fetch(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const std::optional<Options> parsed = parseOptions(arguments);
    if (!parsed) {
        std::fprintf(stderr,
                     "usage: %s [--OPTION VALUE]...; the options are listed at the top "
                     "of bench/benchdownload.cpp\n",
                     argv[0]);
        return 2;
    }
    const Options &options = *parsed;
    // Before any thread starts: every thread and child shares the namespace from here on.
    const bool privateMounts = options.wantsTmpfs() && enterPrivateMounts();
    QCoreApplication application(argc, argv);
    QTemporaryDir scratch(QDir(options.scratch).filePath(QStringLiteral("quorrin-bench-XXXXXX")));
    const QDir root(scratch.path());
    if (!scratch.isValid() || !root.mkpath(QStringLiteral("www")) ||
        !root.mkpath(QStringLiteral("downloads")))
        return 2;
    // A root master runs its workers as nobody, who must reach the served files.
    QFile::setPermissions(scratch.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    printLoad("at the start");
    // Where the cases that fetch into a tmpfs keep their runs; declared after the scratch
    // directory, so that it goes first.
    std::optional<PrivateMount> tmpfs;
    std::optional<QTemporaryDir> shared;
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
        if (options.wantsTmpfs()) {
            const std::optional<QString> runs = tmpfsRuns(root, privateMounts, tmpfs, shared);
            if (!runs)
                return 2;
            const Setup inTmpfs{setup.self, server, setup.served, *runs, setup.runs};
            if (!measureInTmpfs(inTmpfs, scratch.path(), options, privateMounts)) {
                std::fprintf(stderr, "a download failed or differs from the served file\n");
                return 1;
            }
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    printLoad("at the end");
    return 0;
}
