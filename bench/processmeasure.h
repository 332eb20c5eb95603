#pragma once

#include <QStringList>

namespace quorrin::bench {

// What one child process cost, from its start to its end.
struct ProcessCost {
    double seconds = 0;    // wall time
    long peakKiB = 0;      // peak resident memory
    double cpuSeconds = 0; // user and system time of all its threads
    int exitCode = -1;     // -1 when it did not exit normally
};

// Runs `command` (program and arguments, looked up in PATH) and waits for it, through
// bench_spawn in this program's directory, so that the figures are the command's alone.
ProcessCost runMeasured(const QStringList &command);

} // namespace quorrin::bench
