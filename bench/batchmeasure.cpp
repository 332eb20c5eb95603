#include "batchmeasure.h"

#include "patternfile.h"
#include "processmeasure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <optional>

namespace quorrin::bench {
namespace {

// The served files, the file that lists their addresses, and the directory of the runs.
struct Batch {
    QStringList names;
    QString served;
    QString addresses;
    QString runs;
};

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

std::optional<Batch> prepare(const Setup &setup, const BatchOptions &options)
{
    Batch batch;
    batch.served = QDir(setup.served).filePath(QStringLiteral("batch"));
    batch.addresses = QDir(setup.downloads).filePath(QStringLiteral("batch-addresses.txt"));
    batch.runs = QDir(setup.downloads).filePath(QStringLiteral("batch"));
    if (!QDir().mkpath(batch.served) || !QDir().mkpath(batch.runs))
        return std::nullopt;
    QString addresses;
    for (int i = 0; i < options.files; ++i) {
        batch.names << fileName(i);
        if (!makePatternFile(QDir(batch.served).filePath(batch.names.last()), options.fileBytes,
                             quint32(i + 1)))
            return std::nullopt;
        addresses += setup.server.url(QLatin1String("batch/") + batch.names.last()) + u'\n';
    }
    if (!writeText(batch.addresses, addresses))
        return std::nullopt;
    return batch;
}

// Empty when `directory` holds every file of the batch with the served bytes, and nothing
// else (no leftover part file, no numbered copy); otherwise what is wrong.
QString checkDownloads(const Batch &batch, const QString &directory)
{
    const QStringList found = QDir(directory).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    if (found != batch.names)
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

bool writeCurlConfig(const Setup &setup, const Batch &batch, const QString &directory,
                     const QString &path)
{
    QString config;
    for (const QString &name : batch.names)
        config += QLatin1String("url = ") +
                  curlQuoted(setup.server.url(QLatin1String("batch/") + name)) +
                  QLatin1String("\noutput = ") + curlQuoted(QDir(directory).filePath(name)) + u'\n';
    return writeText(path, config);
}

// One of our runs, in a child process, timed by the child itself: only the run, without the
// start of the process and the queueing.
std::optional<ProcessCost> runOurs(const Setup &setup, const BatchOptions &options,
                                   const Batch &batch, const QString &way, int run)
{
    const QString programDirectory =
        QDir(batch.runs).filePath(QStringLiteral("%1-%2").arg(way).arg(run));
    const QString result = programDirectory + QLatin1String(".seconds");
    if (!QDir().mkpath(programDirectory))
        return std::nullopt;
    // "%w" in the prefix names the way, so that a tool's output files do not overwrite each other.
    QStringList command;
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

struct CurlRun {
    ProcessCost transfer;
    ProcessCost flush;
};

// One curl process for the whole batch, then a flush of its files and their directory.
std::optional<CurlRun> runCurl(const Setup &setup, const Batch &batch, int run)
{
    const QString directory = QDir(batch.runs).filePath(QStringLiteral("curl-%1").arg(run));
    const QString config = directory + QLatin1String(".config");
    if (!QDir().mkpath(directory) || !writeCurlConfig(setup, batch, directory, config))
        return std::nullopt;
    CurlRun result;
    result.transfer =
        runMeasured({QStringLiteral("curl"), QStringLiteral("-sSf"), QStringLiteral("-K"), config});
    QStringList sync{QStringLiteral("sync")};
    for (const QString &name : batch.names)
        sync << QDir(directory).filePath(name);
    result.flush = runMeasured(sync << directory);
    const QString problem = result.transfer.exitCode != 0 ? QStringLiteral("curl failed")
                            : result.flush.exitCode != 0  ? QStringLiteral("sync failed")
                                                          : checkDownloads(batch, directory);
    QFile::remove(config);
    QDir(directory).removeRecursively();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(problem));
        return std::nullopt;
    }
    return result;
}

void printSummary(const BatchOptions &options, int runs, const std::vector<double> &window,
                  const std::vector<double> &downloader, const std::vector<double> &curl,
                  const std::vector<double> &curlSynced)
{
    const double files = options.files;
    const auto line = [files](const char *what, double seconds, const char *note) {
        std::printf("  %-22s %7.3f s  (%5.0f files/s)%s\n", what, seconds, files / seconds, note);
    };
    std::printf("\n%d files of %lld bytes over loopback, median of %d runs:\n", options.files,
                options.fileBytes, runs);
    line("Quorrin's window", median(window), "  from the click until the handler returns");
    line("FileDownloader alone", median(downloader), "");
    line("curl -K, one process", median(curl), "");
    line("curl -K; sync", median(curlSynced), "  (the same guarantee: every file on disk)");
    std::printf("  ratio window / curl: %.3f (goal <= 1.0)\n", median(window) / median(curl));
    std::printf("  ratio window / curl; sync: %.3f\n", median(window) / median(curlSynced));
    std::printf("  ratio FileDownloader alone / curl: %.3f\n", median(downloader) / median(curl));
}

} // namespace

bool measureBatch(const Setup &setup, const BatchOptions &options)
{
    std::printf("\nPreparing %d files of %lld bytes...\n", options.files, options.fileBytes);
    std::fflush(stdout);
    const std::optional<Batch> batch = prepare(setup, options);
    if (!batch)
        return false;
    std::vector<double> window, downloader, curl, curlSynced;
    for (int run = 1; run <= setup.runs; ++run) {
        const std::optional<ProcessCost> throughWindow =
            runOurs(setup, options, *batch, QStringLiteral("window"), run);
        const std::optional<ProcessCost> alone =
            throughWindow ? runOurs(setup, options, *batch, QStringLiteral("downloader"), run)
                          : std::nullopt;
        const std::optional<CurlRun> tool = alone ? runCurl(setup, *batch, run) : std::nullopt;
        if (!tool)
            return false;
        std::printf("run %d: window %.3f s, %ld KiB peak; FileDownloader alone %.3f s; "
                    "curl %.3f s, then sync %.3f s\n",
                    run, throughWindow->seconds, throughWindow->peakKiB, alone->seconds,
                    tool->transfer.seconds, tool->flush.seconds);
        std::fflush(stdout);
        window.push_back(throughWindow->seconds);
        downloader.push_back(alone->seconds);
        curl.push_back(tool->transfer.seconds);
        curlSynced.push_back(tool->transfer.seconds + tool->flush.seconds);
    }
    printSummary(options, setup.runs, window, downloader, curl, curlSynced);
    return true;
}

} // namespace quorrin::bench
