#pragma once

// How many connections a file fetched in pieces is worth, and how fast each goes: decisions
// and measurements only, from what they are given.

#include <QtGlobal>

#include <chrono>
#include <deque>
#include <optional>
#include <span>

namespace quorrin {

// Connections to one server at once, for all the files fetched from it together.
constexpr int MaxConnectionsPerServer = 16;

// Whether more connections help is judged on each connection's first bytes: those it
// writes within this window after its first one. Four times the wait for that first byte
// (a few round trips: past the very start of a connection on a far server), within bounds.
constexpr std::chrono::milliseconds ShortestGrowthWindow{50};
constexpr std::chrono::milliseconds LongestGrowthWindow{1000};
std::chrono::milliseconds growthWindow(std::chrono::milliseconds firstByteWait);

// A connection added to a file helps when it brings at least this share of what the first
// connection brought alone over the same span. A server that holds each connection to a rate
// gives a new connection as much as the first; a line that is already full is shared, and
// the n-th connection gets about 1/n of it: a second one half, which is not enough.
constexpr double HelpShare = 2.0 / 3.0;

// Whether a round of added connections helped, given what the first connection brought alone
// over its window (`reference`) and what each added one brought over its own: on average, at
// least HelpShare of the reference each.
bool roundHelped(qint64 reference, std::span<const qint64> brought);

// Each round multiplies the connections on the line by this much: a server that holds each
// connection to a rate is reached in two rounds, at most 16 connections.
constexpr int GrowthFactor = 4;

// Whether the engine may take more: it has waited for the network at least this share of the
// time since the last round began. A process that is busy all the time receiving is the
// limit itself, and no connection added raises the rate, whatever it seems to bring; more
// connections multiplying what it receives need it idle the most part of the time.
constexpr double LeastWaitingShare = 0.5;
bool hasRoom(std::chrono::nanoseconds waited, std::chrono::nanoseconds span);
// Whether the engine's room is judged at all (it is unless told otherwise): tests that need
// a file to split, on a machine whose CPU they do not control, turn the judgement off.
void judgeEngineRoom(bool judged);
bool engineRoomJudged();

// A connection's rate over about the last second, from the bytes it had brought at the
// moments it was sampled; nothing until the samples span a second, so that a connection in
// its first moments is never judged.
class PaceMeter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds Span{1000};

    void sample(Clock::time_point at, qint64 bytes);
    std::optional<double> bytesPerSecond() const;

private:
    struct Sample {
        Clock::time_point at;
        qint64 bytes;
    };
    std::deque<Sample> m_samples;
};

} // namespace quorrin
