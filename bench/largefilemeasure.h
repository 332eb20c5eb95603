#pragma once

#include "measurement.h"

#include <QString>

namespace quorrin::bench {

// One large file from a server that may hold each connection to a rate.
struct LargeFileCase {
    qint64 sizeMiB = 0;
    // nginx's limit_rate, for each connection ("8m" is 8 MiB/s, "50000000" 50 MB/s); empty
    // for no limit.
    QString limitRate;
};

// The file through Quorrin's window (a queue of one entry), by one curl, and by aria2c with
// four connections, with sixteen, and with sixteen and its smallest pieces, in turn,
// setup.runs times, from an nginx of its own (its files in `scratch`) that counts the
// connections each one opens. Prints each way's median time, the window's over it, and the
// connections and requests the server saw; false when a download fails or differs.
bool measureLargeFileCase(const Setup &setup, const QString &scratch, const LargeFileCase &file);

} // namespace quorrin::bench
