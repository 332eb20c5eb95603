#pragma once

#include "handovermessage.h"
#include "handoverplace.h"
#include "windowclaim.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

namespace quorrin::downloader {

// What a start of Quorrin is: the window, or a start that handed its addresses to the window.
struct StartRole {
    std::unique_ptr<WindowClaim> claim; // set: this start is the window
    std::optional<HandOverReply> reply; // set: the window took the message
    QString failure;                    // neither: why, in French
};

// Makes this start the window of `place` when no other start is, else hands `message` to the
// window. Starts at the same moment make one window: the one that takes the place's lock; the
// others wait for it to listen, `patience` at most, and as long again for its reply.
StartRole claimWindowOrHandOver(const HandOverPlace &place, const QByteArray &message,
                                std::chrono::milliseconds patience);

} // namespace quorrin::downloader
