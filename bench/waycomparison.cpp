#include "waycomparison.h"

#include "measurement.h"

#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace quorrin::bench {
namespace {

// "4", or "4-6" when the runs differ.
QString spread(std::vector<int> values)
{
    if (values.empty())
        return QStringLiteral("-");
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    return *low == *high ? QString::number(*low) : QStringLiteral("%1-%2").arg(*low).arg(*high);
}

// "HTTP/2.0 x200", each protocol with how many requests used it, in the first run.
QString protocols(const std::vector<ServedRequests> &served)
{
    QStringList parts;
    if (!served.empty())
        for (auto it = served.front().protocols.cbegin(); it != served.front().protocols.cend();
             ++it)
            parts << QStringLiteral("%1 x%2").arg(it.key()).arg(it.value());
    return parts.join(QLatin1String(", "));
}

} // namespace

std::optional<std::vector<WayFigures>> runWays(const std::vector<Way> &ways, int runs,
                                               const NginxServer *server)
{
    std::vector<WayFigures> figures(ways.size());
    for (int run = 1; run <= runs; ++run) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const qint64 mark = server ? server->logMark() : 0;
            const std::optional<ProcessCost> cost = ways[i].run(run);
            if (!cost) {
                std::fprintf(stderr, "%s failed\n", qPrintable(ways[i].name));
                return std::nullopt;
            }
            figures[i].seconds.push_back(cost->seconds);
            figures[i].peakKiB.push_back(cost->peakKiB);
            figures[i].cpuSeconds.push_back(cost->cpuSeconds);
            // A line of its own: a child's messages on stderr come between.
            std::printf("run %d, %s: %.3f s, peak %ld KiB, CPU %.3f s", run,
                        qPrintable(ways[i].name), cost->seconds, cost->peakKiB, cost->cpuSeconds);
            if (server) {
                figures[i].served.push_back(server->requestsSince(mark));
                std::printf(", %d connections", figures[i].served.back().connections);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    return figures;
}

void printWays(const std::vector<Way> &ways, const std::vector<WayFigures> &figures)
{
    const bool logged = !figures.front().served.empty();
    std::printf("  %-32s %9s %9s %9s %9s", "", "median", "ratio", "peak", "CPU");
    if (logged)
        std::printf(" %11s %8s  %s", "connections", "requests", "protocols");
    std::printf("\n");
    const double first = median(figures.front().seconds);
    for (std::size_t i = 0; i < ways.size(); ++i) {
        const WayFigures &way = figures[i];
        const double seconds = median(way.seconds);
        std::vector<double> peaks(way.peakKiB.begin(), way.peakKiB.end());
        const QString ratio =
            ways[i].compared ? QString::number(first / seconds, 'f', 3) : QStringLiteral("-");
        std::printf("  %-32s %7.3f s %9s %5.0f MiB %7.3f s", qPrintable(ways[i].name), seconds,
                    qPrintable(ratio), median(peaks) / 1024, median(way.cpuSeconds));
        if (logged) {
            std::vector<int> connections, requests;
            for (const ServedRequests &served : way.served) {
                connections.push_back(served.connections);
                requests.push_back(served.requests);
            }
            std::printf(" %11s %8s  %s", qPrintable(spread(connections)),
                        qPrintable(spread(requests)), qPrintable(protocols(way.served)));
        }
        std::printf("\n");
    }
    std::printf("  (ratio: %s's median time over the way's; below 1 is faster; CPU: the "
                "process's user and system time, its server's not counted)\n",
                qPrintable(ways.front().name));
    std::fflush(stdout);
}

} // namespace quorrin::bench
