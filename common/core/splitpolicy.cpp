#include "splitpolicy.h"

#include <algorithm>
#include <atomic>
#include <numeric>

namespace quorrin {

std::chrono::milliseconds growthWindow(std::chrono::milliseconds firstByteWait)
{
    return std::clamp(firstByteWait * 4, ShortestGrowthWindow, LongestGrowthWindow);
}

bool roundHelped(qint64 reference, std::span<const qint64> brought)
{
    if (brought.empty() || reference <= 0)
        return false;
    const double sum = std::accumulate(brought.begin(), brought.end(), 0.0);
    return sum / double(brought.size()) >= HelpShare * double(reference);
}

bool hasRoom(std::chrono::nanoseconds waited, std::chrono::nanoseconds span)
{
    return span.count() > 0 && double(waited.count()) >= LeastWaitingShare * double(span.count());
}

namespace {
std::atomic<bool> roomJudged{true};
} // namespace

void judgeEngineRoom(bool judged)
{
    roomJudged = judged;
}

bool engineRoomJudged()
{
    return roomJudged;
}

void PaceMeter::sample(Clock::time_point at, qint64 bytes)
{
    m_samples.push_back({at, bytes});
    // The oldest sample kept is the last one at least a span old.
    while (m_samples.size() > 2 && at - m_samples[1].at >= Span)
        m_samples.pop_front();
}

std::optional<double> PaceMeter::bytesPerSecond() const
{
    if (m_samples.size() < 2)
        return std::nullopt;
    const auto span = m_samples.back().at - m_samples.front().at;
    if (span < Span)
        return std::nullopt;
    return double(m_samples.back().bytes - m_samples.front().bytes) /
           std::chrono::duration<double>(span).count();
}

} // namespace quorrin
