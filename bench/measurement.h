#pragma once

#include "nginxserver.h"

#include <QString>

#include <algorithm>
#include <vector>

namespace quorrin::bench {

// What every measurement shares: this program (to run a download in a fresh process of its
// own), a server, the directory it serves and a directory for the downloaded copies.
struct Setup {
    QString self;
    NginxServer &server;
    QString served;
    QString downloads;
    int runs = 3;
};

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace quorrin::bench
