#pragma once

#include "filelock.h"
#include "handoverplace.h"

#include <QString>

namespace quorrin::downloader {

// The claim of the start that is the window of a hand-over place: the place's lock, held for
// the claim's life, and its socket, listening from the moment the lock is taken, so that a
// start that finds the lock held always finds the window listening too. Only the lock's holder
// makes or removes the socket: one left by a window that was killed is replaced.
class WindowClaim {
public:
    explicit WindowClaim(const HandOverPlace &place);
    // Removes the socket, then lets go of the lock.
    ~WindowClaim();
    WindowClaim(const WindowClaim &) = delete;
    WindowClaim &operator=(const WindowClaim &) = delete;

    bool owned() const { return m_socket >= 0; }
    // Another start holds the lock: it is the window, or is about to be, or has just ended.
    bool heldElsewhere() const { return m_lock.heldElsewhere(); }
    // Why the claim is not owned, in French.
    QString cause() const { return m_cause; }
    // The listening socket: non-blocking, closed in programs started from this one.
    int socket() const { return m_socket; }

private:
    QString m_socketPath;
    FileLock m_lock;
    int m_socket = -1;
    QString m_cause;
};

} // namespace quorrin::downloader
