#pragma once

#include "measurement.h"
#include "processmeasure.h"

#include <QStringList>

#include <functional>
#include <optional>

namespace quorrin::bench {

struct BatchOptions {
    int files = 1000;
    qint64 fileBytes = 4096;
    // The served directory of the files and the directory of the runs are named so, under the
    // setup's served and downloads directories.
    QString name = QStringLiteral("batch");
    // Put before the command of each of our runs, to run them under a tool (strace, valgrind,
    // perf); their times then include that tool's cost. "%w" stands for the way of the run,
    // "window" or "downloader".
    QStringList childPrefix;
    // Put before the command of every process that fetches, ours and the peers' alike (a
    // namespace of their own, say).
    QStringList launcher;
    // The address each file is fetched from, given the server's (through a relay, say).
    std::function<QString(const QString &)> through = [](const QString &url) { return url; };
    // Also measures the tools that fetch several files at once: aria2c -j5 and curl -Z.
    bool parallelPeers = false;
};

// The served files, the file that lists their addresses, and the directory of the runs.
struct Batch {
    QStringList names;
    QString served;
    QString addresses;
    QString runs;
};

// Serves the batch's files (kept from an earlier call when they have the size asked for) and
// lists their addresses.
std::optional<Batch> prepareBatch(const Setup &setup, const BatchOptions &options);
// The first `count` files of `batch`, with a list of addresses of their own.
std::optional<Batch> firstFiles(const Setup &setup, const BatchOptions &options, const Batch &batch,
                                int count);

// One of our runs ("window": the queue through Quorrin's window, one click on the download
// button; "downloader": one FileDownloader in a loop), in a child process that times only
// the run itself, not its start and the queueing. Checked file by file; nothing, with the
// reason on stderr, when it fails or leaves a file that differs from the served one.
std::optional<ProcessCost> runOurs(const Setup &setup, const BatchOptions &options,
                                   const Batch &batch, const QString &way, int run);

// A peer's run, then a flush of its files and their directory.
struct PeerRun {
    ProcessCost transfer;
    ProcessCost flush;
};
// Runs `command` (after the options' launcher), which is to fetch the whole batch into
// `directory`, then flushes and checks what it fetched and removes it. Nothing, with the
// reason on stderr, when it fails or leaves a file that differs from the served one.
std::optional<PeerRun> runPeer(const BatchOptions &options, const Batch &batch,
                               const QString &directory, const QStringList &command);
// One curl process for the whole batch (its directory named after `label` and the run):
// one file after the other, or as the `extra` arguments say, such as -Z.
std::optional<PeerRun> runCurl(const Setup &setup, const BatchOptions &options, const Batch &batch,
                               const QString &label, int run, const QStringList &extra = {});
// aria2c at its defaults for a list: five downloads at once.
std::optional<PeerRun> runAria2(const Setup &setup, const BatchOptions &options, const Batch &batch,
                                int run);

// A queue of small files, downloaded in turn through Quorrin's window (one click on the
// download button), through one FileDownloader in a loop, and by one curl process that reuses
// its connection (with parallelPeers, also by aria2c and curl fetching several at once), each
// run into an empty directory. Every run is checked file by file; false
// when any run fails or leaves a file that differs from the served one.
bool measureBatch(const Setup &setup, const BatchOptions &options);

} // namespace quorrin::bench
