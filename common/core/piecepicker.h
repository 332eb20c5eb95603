#pragma once

// What each connection of a file fetched over several connections at once asks for next, and
// which connection lets go of its range: decisions only, from the state they are given.

#include "byteranges.h"

#include <cstddef>
#include <optional>
#include <span>

namespace quorrin {

// The smallest piece that a new connection to the server is opened for: a new connection
// costs a handshake (a few round trips, more with TLS) and a slow start before it reaches
// its pace. At a per-connection cap of a few MiB/s, 4 MiB is a second or two of work, well
// above that cost even for a far server; a range below twice this size is never split for a
// new connection, so a file below it, fetched from its start, keeps one connection.
constexpr qint64 NewConnectionPiece = qint64(4) << 20;
// The smallest piece that a connection which has finished its range asks for, to take over
// half of another one's: it is open already, so only its request's round trip is spent.
// 1 MiB is still many round trips' worth at a few MiB/s, and small enough that the last
// MiB of a file does not wait on one slow connection.
constexpr qint64 FinishedConnectionPiece = qint64(1) << 20;

// The range a connection is to ask for; `shortened` is the index of the connection under
// way that now stops at range.begin instead of range.end (that one gave up the range's
// bytes), none when the range was free.
struct Piece {
    ByteRange range;
    std::optional<std::size_t> shortened;

    bool operator==(const Piece &) const = default;
};

// What a connection that asks (a new one, or one that has finished its range) fetches next
// of a file of `total` bytes, of which `held` are on hand, while each of `underway` is the
// range [position, end) that a connection is still to receive (disjoint, none of it held).
// It takes the most it can: a free gap (bytes that nobody holds or fetches) whole, or the
// second half of the largest range still to come of a connection, whichever is larger, a
// gap when they are equal, the first one in the file among equals. A connection's range is
// split only when each half is at least `minimumPiece`; a free gap is given whatever its
// size, since no other connection will fetch it. Nothing when nothing is left to take.
std::optional<Piece> nextPiece(qint64 total, const ByteRanges &held,
                               std::span<const ByteRange> underway, qint64 minimumPiece);

// How a connection under way has been doing lately.
struct ConnectionPace {
    double bytesPerSecond = 0; // over the last few seconds; 0 when it received nothing then
    qint64 remaining = 0;      // bytes of its range still to come
};

// A connection is far slower than the others when its rate is below this share of the
// median rate of the others.
constexpr double FarSlowerShare = 0.25;

// Which connection, if any, gives the rest of its range back, to be fetched by the others:
// one far slower than the others (see FarSlowerShare) whose remainder another connection
// would receive, after its own, in less than half the time the slow one still needs at its
// rate. Of several, the one that would need the longest. The others may have finished their
// own ranges (nothing remaining): they are the first to take over. The rates are the
// caller's to measure over a window long enough to mean something: a connection still in its
// first seconds has no rate worth judging.
std::optional<std::size_t> connectionToRelieve(std::span<const ConnectionPace> connections);

} // namespace quorrin
