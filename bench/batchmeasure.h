#pragma once

#include "measurement.h"

#include <QStringList>

#include <functional>

namespace quorrin::bench {

struct BatchOptions {
    int files = 1000;
    qint64 fileBytes = 4096;
    // Put before the command of each of our runs, to run them under a tool (strace, valgrind,
    // perf); their times then include that tool's cost. "%w" stands for the way of the run,
    // "window" or "downloader".
    QStringList childPrefix;
    // The address each file is fetched from, given the server's (through a relay, say).
    std::function<QString(const QString &)> through = [](const QString &url) { return url; };
    // Also measures the tools that fetch several files at once: aria2c -j5 and curl -Z.
    bool parallelPeers = false;
};

// A queue of small files, downloaded in turn through Quorrin's window (one click on the
// download button), through one FileDownloader in a loop, and by one curl process that reuses
// its connection (with parallelPeers, also by aria2c and curl fetching several at once), each
// run into an empty directory. Every run is checked file by file; false
// when any run fails or leaves a file that differs from the served one.
bool measureBatch(const Setup &setup, const BatchOptions &options);

} // namespace quorrin::bench
