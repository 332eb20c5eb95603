#pragma once

#include "measurement.h"

namespace quorrin::bench {

// A queue of `entries` files of 1 KiB through Quorrin's window, by curl -Z --parallel-max 6,
// by one sequential curl -K and by aria2c -j5, in turn, setup.runs times; and through the
// window again with the queue's first 100 entries, for what each further entry costs in
// memory at the window's peak; the window's runs under `childPrefix` (a profiler, say). False when
// a download fails or differs.
bool measureLongQueue(const Setup &setup, int entries, const QStringList &childPrefix = {});

} // namespace quorrin::bench
