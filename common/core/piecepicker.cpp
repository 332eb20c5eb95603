#include "piecepicker.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace quorrin {

std::optional<Piece> nextPiece(qint64 total, const ByteRanges &held,
                               std::span<const ByteRange> underway, qint64 minimumPiece)
{
    ByteRanges taken = held;
    for (const ByteRange &range : underway)
        taken.add(range);
    const ByteRanges free = taken.gaps(total);
    std::optional<Piece> best;
    for (const ByteRange &gap : free.ranges())
        if (!best || gap.size() > best->range.size())
            best = Piece{gap, std::nullopt};

    // The connection keeps the first half, rounded down; the one that asks gets the rest.
    const qint64 smallestHalf = std::max<qint64>(1, minimumPiece);
    for (std::size_t i = 0; i < underway.size(); ++i) {
        const ByteRange &range = underway[i];
        if (range.size() / 2 < smallestHalf)
            continue;
        const ByteRange second{range.begin + range.size() / 2, range.end};
        const bool larger = !best || second.size() > best->range.size();
        const bool earlierOfEqualHalves = best && best->shortened &&
                                          second.size() == best->range.size() &&
                                          second.begin < best->range.begin;
        if (larger || earlierOfEqualHalves)
            best = Piece{second, i};
    }
    return best;
}

namespace {

// The median rate of every connection but `self`, the lower of the two middle ones for an
// even count.
double medianRateOfOthers(std::span<const ConnectionPace> connections, std::size_t self)
{
    std::vector<double> rates;
    for (std::size_t i = 0; i < connections.size(); ++i)
        if (i != self)
            rates.push_back(connections[i].bytesPerSecond);
    const auto middle = rates.begin() + std::ptrdiff_t(rates.size() - 1) / 2;
    std::nth_element(rates.begin(), middle, rates.end());
    return *middle;
}

// How long the soonest of the others would take to receive its own remainder and then
// `bytes` more at its rate; infinite when none of them is receiving.
double soonestTakeOver(std::span<const ConnectionPace> connections, std::size_t self, qint64 bytes)
{
    double soonest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < connections.size(); ++i)
        if (i != self && connections[i].bytesPerSecond > 0)
            soonest = std::min(soonest, double(connections[i].remaining + bytes) /
                                            connections[i].bytesPerSecond);
    return soonest;
}

} // namespace

std::optional<std::size_t> connectionToRelieve(std::span<const ConnectionPace> connections)
{
    if (connections.size() < 2)
        return std::nullopt;
    std::optional<std::size_t> chosen;
    double longest = 0;
    for (std::size_t i = 0; i < connections.size(); ++i) {
        const ConnectionPace &pace = connections[i];
        if (pace.remaining <= 0 ||
            !(pace.bytesPerSecond < FarSlowerShare * medianRateOfOthers(connections, i)))
            continue;
        const double alone = pace.bytesPerSecond > 0 ? double(pace.remaining) / pace.bytesPerSecond
                                                     : std::numeric_limits<double>::infinity();
        if (!(soonestTakeOver(connections, i, pace.remaining) < alone / 2))
            continue;
        if (!chosen || alone > longest) {
            chosen = i;
            longest = alone;
        }
    }
    return chosen;
}

} // namespace quorrin
