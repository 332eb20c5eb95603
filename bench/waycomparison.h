#pragma once

#include "nginxserver.h"
#include "processmeasure.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace quorrin::bench {

// One way of fetching what a measurement fetches: its name in the figures, and one run of it
// (given the run's number) that returns what it cost, or nothing, with the reason on stderr,
// when it failed.
struct Way {
    QString name;
    std::function<std::optional<ProcessCost>(int run)> run;
    // Whether the summary compares the first way's time with this one's; false for a way that
    // is run for another figure (memory, say).
    bool compared = true;
};

// What a way cost in each run, and what the server saw of it.
struct WayFigures {
    std::vector<double> seconds;
    std::vector<long> peakKiB;
    std::vector<double> cpuSeconds;
    std::vector<ServedRequests> served; // empty when the server keeps no log
};

// Runs every way in turn, `runs` times, and prints a line for each. A `server` that logs its
// requests tells how many connections and requests each run made. Nothing when a way fails.
std::optional<std::vector<WayFigures>> runWays(const std::vector<Way> &ways, int runs,
                                               const NginxServer *server = nullptr);

// Prints each way's median time, the first way's median over it, its peak memory, its CPU
// time and what the server saw of it.
void printWays(const std::vector<Way> &ways, const std::vector<WayFigures> &figures);

} // namespace quorrin::bench
