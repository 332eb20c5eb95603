#include "longqueuemeasure.h"

#include "batchmeasure.h"
#include "waycomparison.h"

#include <cstdio>

namespace quorrin::bench {

bool measureLongQueue(const Setup &setup, int entries, const QStringList &childPrefix)
{
    constexpr int ReferenceEntries = 100;
    BatchOptions options;
    options.childPrefix = childPrefix;
    options.files = entries;
    options.fileBytes = 1024;
    options.name = QStringLiteral("queue");
    std::printf("\nPreparing %d files of 1 KiB...\n", entries);
    std::fflush(stdout);
    const std::optional<Batch> queue = prepareBatch(setup, options);
    const std::optional<Batch> reference =
        queue ? firstFiles(setup, options, *queue, ReferenceEntries) : std::nullopt;
    if (!reference)
        return false;

    const auto peer = [](const std::optional<PeerRun> &run) {
        return run ? std::optional(run->transfer) : std::nullopt;
    };
    const QString window = QStringLiteral("window");
    constexpr std::size_t CurlParallel = 1; // its place among the ways
    const std::vector<Way> ways{
        {QStringLiteral("Quorrin's window"),
         [&](int run) { return runOurs(setup, options, *queue, window, run); }},
        {QStringLiteral("curl -Z --parallel-max 6"),
         [&](int run) {
             return peer(runCurl(setup, options, *queue, QStringLiteral("curl-Z"), run,
                                 {QStringLiteral("-Z"), QStringLiteral("--parallel-max"),
                                  QStringLiteral("6"), QStringLiteral("--no-progress-meter")}));
         }},
        {QStringLiteral("curl -K, one process"),
         [&](int run) {
             return peer(runCurl(setup, options, *queue, QStringLiteral("curl"), run));
         }},
        {QStringLiteral("aria2c -j5"),
         [&](int run) { return peer(runAria2(setup, options, *queue, run)); }},
        {QStringLiteral("Quorrin's window, %1 entries").arg(reference->names.size()),
         [&](int run) { return runOurs(setup, options, *reference, window, run); }, false},
    };
    std::printf("\nA queue of %d files of 1 KiB:\n", entries);
    std::fflush(stdout);
    const std::optional<std::vector<WayFigures>> figures = runWays(ways, setup.runs);
    if (!figures)
        return false;
    std::printf("\nA queue of %d files of 1 KiB, median of %d runs:\n", entries, setup.runs);
    printWays(ways, *figures);

    const auto medianPeak = [](const WayFigures &way) {
        return median(std::vector<double>(way.peakKiB.begin(), way.peakKiB.end()));
    };
    const qsizetype further = queue->names.size() - reference->names.size();
    if (further > 0) {
        const double bytes =
            (medianPeak(figures->front()) - medianPeak(figures->back())) * 1024 / double(further);
        std::printf("  the window's peak memory: %.0f bytes an entry above its peak with %lld "
                    "entries\n",
                    bytes, qlonglong(reference->names.size()));
        // The same for all of its threads together: a figure that the placement of the threads
        // on the processors changes far less than the time.
        const double window =
            (median(figures->front().cpuSeconds) - median(figures->back().cpuSeconds)) /
            double(further);
        const double curl =
            median(figures->at(CurlParallel).cpuSeconds) / double(queue->names.size());
        std::printf("  CPU time: the window's %.1f µs an entry above its run of %lld entries, "
                    "curl -Z's %.1f µs a file\n",
                    window * 1e6, qlonglong(reference->names.size()), curl * 1e6);
    }
    std::fflush(stdout);
    return true;
}

} // namespace quorrin::bench
