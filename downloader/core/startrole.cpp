#include "startrole.h"

#include "handoverclient.h"

#include <thread>

namespace quorrin::downloader {
namespace {

using Clock = std::chrono::steady_clock;

// How often a start looks again for the window that holds the lock but does not listen yet.
constexpr std::chrono::milliseconds RetryInterval{10};

} // namespace

StartRole claimWindowOrHandOver(const HandOverPlace &place, const QByteArray &message,
                                std::chrono::milliseconds patience)
{
    const Clock::time_point deadline = Clock::now() + patience;
    for (;;) {
        auto claim = std::make_unique<WindowClaim>(place);
        if (claim->owned())
            return {std::move(claim), std::nullopt, {}};
        if (!claim->heldElsewhere())
            return {nullptr, std::nullopt, claim->cause()};
        claim.reset();
        const Delivery delivery = deliverHandOver(place.socketPath, message, patience);
        if (delivery.outcome == Delivery::Outcome::Answered)
            return {nullptr, delivery.reply, {}};
        if (delivery.outcome == Delivery::Outcome::Failed)
            return {nullptr, std::nullopt, delivery.cause};
        // The lock's holder listens right after taking it, or has just ended.
        if (Clock::now() >= deadline)
            return {nullptr, std::nullopt,
                    QStringLiteral("la fenêtre de Quorrin déjà ouverte ne répond pas")};
        std::this_thread::sleep_for(RetryInterval);
    }
}

} // namespace quorrin::downloader
