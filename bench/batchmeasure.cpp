#include "batchmeasure.h"

#include "patternfile.h"
#include "processmeasure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>

namespace quorrin::bench {
namespace {

QString fileName(int index)
{
    return QStringLiteral("f%1.bin").arg(index, 4, 10, QLatin1Char('0'));
}

bool writeText(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) >= 0 && file.flush();
}

QString addressList(const Setup &setup, const BatchOptions &options, const QStringList &names)
{
    QString addresses;
    for (const QString &name : names)
        addresses += options.through(setup.server.url(options.name + u'/' + name)) + u'\n';
    return addresses;
}

// Empty when `directory` holds every file of the batch with the served bytes, and nothing
// else (no leftover part file, no numbered copy); otherwise what is wrong.
QString checkDownloads(const Batch &batch, const QString &directory)
{
    const QStringList found = QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList expected = batch.names;
    std::sort(expected.begin(), expected.end());
    if (found != expected)
        return QStringLiteral("%1 holds %2 entries instead of the %3 files of the batch")
            .arg(directory)
            .arg(found.size())
            .arg(batch.names.size());
    for (const QString &name : batch.names)
        if (!sameContent(QDir(batch.served).filePath(name), QDir(directory).filePath(name)))
            return QStringLiteral("%1 differs from the served file").arg(name);
    return {};
}

// A value in curl's configuration syntax.
QString curlQuoted(QString text)
{
    text.replace(u'\\', QLatin1String("\\\\")).replace(u'"', QLatin1String("\\\""));
    return u'"' + text + u'"';
}

bool writeCurlConfig(const Setup &setup, const BatchOptions &options, const Batch &batch,
                     const QString &directory, const QString &path)
{
    QString config;
    for (const QString &name : batch.names)
        config += QLatin1String("url = ") +
                  curlQuoted(options.through(setup.server.url(options.name + u'/' + name))) +
                  QLatin1String("\noutput = ") + curlQuoted(QDir(directory).filePath(name)) + u'\n';
    return writeText(path, config);
}

// Flushes the files of the batch in `directory`, and the directory: sync with as many paths
// at once as a command line surely holds.
ProcessCost flushDownloads(const Batch &batch, const QString &directory)
{
    constexpr qsizetype PathsAtOnce = 1000;
    ProcessCost total;
    total.exitCode = 0;
    for (qsizetype first = 0; first < batch.names.size() || first == 0; first += PathsAtOnce) {
        QStringList sync{QStringLiteral("sync")};
        for (const QString &name : batch.names.mid(first, PathsAtOnce))
            sync << QDir(directory).filePath(name);
        if (first + PathsAtOnce >= batch.names.size())
            sync << directory;
        const ProcessCost cost = runMeasured(sync);
        total.seconds += cost.seconds;
        total.peakKiB = std::max(total.peakKiB, cost.peakKiB);
        total.cpuSeconds += cost.cpuSeconds;
        if (cost.exitCode != 0)
            total.exitCode = cost.exitCode;
    }
    return total;
}

} // namespace

std::optional<Batch> prepareBatch(const Setup &setup, const BatchOptions &options)
{
    Batch batch;
    batch.served = QDir(setup.served).filePath(options.name);
    batch.addresses =
        QDir(setup.downloads).filePath(options.name + QLatin1String("-addresses.txt"));
    batch.runs = QDir(setup.downloads).filePath(options.name);
    if (!QDir().mkpath(batch.served) || !QDir().mkpath(batch.runs))
        return std::nullopt;
    for (int i = 0; i < options.files; ++i) {
        batch.names << fileName(i);
        if (!makePatternFile(QDir(batch.served).filePath(batch.names.last()), options.fileBytes,
                             quint32(i + 1)))
            return std::nullopt;
    }
    if (!writeText(batch.addresses, addressList(setup, options, batch.names)))
        return std::nullopt;
    return batch;
}

std::optional<Batch> firstFiles(const Setup &setup, const BatchOptions &options, const Batch &batch,
                                int count)
{
    Batch first = batch;
    first.names = batch.names.first(std::min<qsizetype>(count, batch.names.size()));
    first.addresses = QDir(setup.downloads)
                          .filePath(QStringLiteral("%1-first-%2-addresses.txt")
                                        .arg(options.name)
                                        .arg(first.names.size()));
    if (!writeText(first.addresses, addressList(setup, options, first.names)))
        return std::nullopt;
    return first;
}

std::optional<ProcessCost> runOurs(const Setup &setup, const BatchOptions &options,
                                   const Batch &batch, const QString &way, int run)
{
    const QString programDirectory =
        QDir(batch.runs).filePath(QStringLiteral("%1-%2").arg(way).arg(run));
    const QString result = programDirectory + QLatin1String(".seconds");
    if (!QDir().mkpath(programDirectory))
        return std::nullopt;
    // "%w" in the prefix names the way, so that a tool's output files do not overwrite each other.
    QStringList command = options.launcher;
    for (const QString &word : options.childPrefix)
        command << QString(word).replace(QLatin1String("%w"), way);
    command << QFileInfo(setup.self).dir().filePath(QStringLiteral("bench_batchrun")) << way
            << programDirectory << batch.addresses << result;
    ProcessCost cost = runMeasured(command);
    QFile file(result);
    bool timed = false;
    if (cost.exitCode == 0 && file.open(QIODevice::ReadOnly))
        cost.seconds = file.readAll().trimmed().toDouble(&timed);
    const QString problem = cost.exitCode != 0 ? QStringLiteral("the %1 run failed").arg(way)
                            : !timed
                                ? QStringLiteral("the %1 run gave no time").arg(way)
                                : checkDownloads(batch, programDirectory + QLatin1String("/DL"));
    QFile::remove(result);
    QDir(programDirectory).removeRecursively();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return std::nullopt;
    }
    return cost;
}

std::optional<PeerRun> runPeer(const BatchOptions &options, const Batch &batch,
                               const QString &directory, const QStringList &command)
{
    PeerRun result;
    result.transfer = runMeasured(options.launcher + command);
    result.flush = flushDownloads(batch, directory);
    const QString problem = result.transfer.exitCode != 0
                                ? command.first() + QStringLiteral(" failed")
                            : result.flush.exitCode != 0 ? QStringLiteral("sync failed")
                                                         : checkDownloads(batch, directory);
    QDir(directory).removeRecursively();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return std::nullopt;
    }
    return result;
}

std::optional<PeerRun> runCurl(const Setup &setup, const BatchOptions &options, const Batch &batch,
                               const QString &label, int run, const QStringList &extra)
{
    const QString directory =
        QDir(batch.runs).filePath(QStringLiteral("%1-%2").arg(label).arg(run));
    const QString config = directory + QLatin1String(".config");
    if (!QDir().mkpath(directory) || !writeCurlConfig(setup, options, batch, directory, config))
        return std::nullopt;
    const QStringList command =
        QStringList{QStringLiteral("curl"), QStringLiteral("-sSf"), QStringLiteral("-K"), config} +
        extra;
    const std::optional<PeerRun> result = runPeer(options, batch, directory, command);
    QFile::remove(config);
    return result;
}

std::optional<PeerRun> runAria2(const Setup &setup, const BatchOptions &options, const Batch &batch,
                                int run)
{
    const QString directory = QDir(batch.runs).filePath(QStringLiteral("aria2-%1").arg(run));
    const QString input = directory + QLatin1String(".input");
    QString list;
    for (const QString &name : batch.names)
        list += options.through(setup.server.url(options.name + u'/' + name)) +
                QLatin1String("\n  dir=") + directory + QLatin1String("\n  out=") + name + u'\n';
    if (!QDir().mkpath(directory) || !writeText(input, list))
        return std::nullopt;
    const std::optional<PeerRun> result =
        runPeer(options, batch, directory,
                {QStringLiteral("aria2c"), QStringLiteral("-q"), QStringLiteral("-j5"),
                 QStringLiteral("-i"), input});
    QFile::remove(input);
    return result;
}

namespace {

// The medians of each way of fetching the batch, in seconds.
struct Figures {
    std::vector<double> window, downloader, curl, curlSynced, curlParallel, aria2;
};

void printSummary(const BatchOptions &options, int runs, const Figures &figures)
{
    const std::vector<double> &window = figures.window;
    const std::vector<double> &downloader = figures.downloader;
    const std::vector<double> &curl = figures.curl;
    const std::vector<double> &curlSynced = figures.curlSynced;
    const double files = options.files;
    const auto line = [files](const char *what, double seconds, const char *note) {
        std::printf("  %-22s %7.3f s  (%5.0f files/s)%s\n", what, seconds, files / seconds, note);
    };
    std::printf("\n%d files of %lld bytes over loopback, median of %d runs:\n", options.files,
                options.fileBytes, runs);
    line("Quorrin's window", median(window), "  from the paste until the run has ended");
    line("FileDownloader alone", median(downloader), "");
    line("curl -K, one process", median(curl), "");
    line("curl -K; sync", median(curlSynced), "  (the same guarantee: every file on disk)");
    std::printf("  ratio window / curl: %.3f (goal <= 1.0 into a tmpfs)\n",
                median(window) / median(curl));
    std::printf("  ratio window / curl; sync: %.3f (goal <= 1.5 to a disk)\n",
                median(window) / median(curlSynced));
    std::printf("  ratio FileDownloader alone / curl: %.3f\n", median(downloader) / median(curl));
    if (figures.aria2.empty())
        return;
    line("aria2c -j5", median(figures.aria2), "");
    line("curl -Z --parallel-max 6", median(figures.curlParallel), "");
    std::printf("  ratio window / aria2c -j5: %.3f (goal <= 1.0)\n",
                median(window) / median(figures.aria2));
    std::printf("  ratio window / curl -Z: %.3f\n", median(window) / median(figures.curlParallel));
}

} // namespace

bool measureBatch(const Setup &setup, const BatchOptions &options)
{
    std::printf("\nPreparing %d files of %lld bytes...\n", options.files, options.fileBytes);
    std::fflush(stdout);
    const std::optional<Batch> batch = prepareBatch(setup, options);
    if (!batch)
        return false;
    Figures figures;
    for (int run = 1; run <= setup.runs; ++run) {
        const std::optional<ProcessCost> throughWindow =
            runOurs(setup, options, *batch, QStringLiteral("window"), run);
        const std::optional<ProcessCost> alone =
            throughWindow ? runOurs(setup, options, *batch, QStringLiteral("downloader"), run)
                          : std::nullopt;
        const std::optional<PeerRun> tool =
            alone ? runCurl(setup, options, *batch, QStringLiteral("curl"), run) : std::nullopt;
        if (!tool)
            return false;
        std::printf("run %d: window %.3f s, %ld KiB peak; FileDownloader alone %.3f s; "
                    "curl %.3f s, then sync %.3f s",
                    run, throughWindow->seconds, throughWindow->peakKiB, alone->seconds,
                    tool->transfer.seconds, tool->flush.seconds);
        figures.window.push_back(throughWindow->seconds);
        figures.downloader.push_back(alone->seconds);
        figures.curl.push_back(tool->transfer.seconds);
        figures.curlSynced.push_back(tool->transfer.seconds + tool->flush.seconds);
        if (options.parallelPeers) {
            const std::optional<PeerRun> aria2 = runAria2(setup, options, *batch, run);
            const std::optional<PeerRun> parallel =
                aria2 ? runCurl(setup, options, *batch, QStringLiteral("curl-Z"), run,
                                {QStringLiteral("-Z"), QStringLiteral("--parallel-max"),
                                 QStringLiteral("6"), QStringLiteral("--no-progress-meter")})
                      : std::nullopt;
            if (!parallel)
                return false;
            std::printf("; aria2c -j5 %.3f s; curl -Z %.3f s", aria2->transfer.seconds,
                        parallel->transfer.seconds);
            figures.aria2.push_back(aria2->transfer.seconds);
            figures.curlParallel.push_back(parallel->transfer.seconds);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    printSummary(options, setup.runs, figures);
    return true;
}

} // namespace quorrin::bench
