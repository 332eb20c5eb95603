#pragma once

#include "handovermessage.h"

#include <QByteArray>
#include <QString>

#include <chrono>

namespace quorrin::downloader {

// What became of a message sent to the window's socket.
struct Delivery {
    enum class Outcome {
        Answered,    // the window took the message and replied
        Unreachable, // nothing takes the connection now: no window, or one too busy
        Failed,      // the window was reached but refused, did not answer in time, or is not ours
    };
    Outcome outcome = Outcome::Failed;
    HandOverReply reply; // when answered
    QString cause;       // when failed, in French
};

// Sends `message` to the window listening at `socketPath` and waits up to `patience` for its
// reply. Blocks: made before the application object exists, by a start that ends right after.
// The window must run as this very user.
Delivery deliverHandOver(const QString &socketPath, const QByteArray &message,
                         std::chrono::milliseconds patience);

} // namespace quorrin::downloader
