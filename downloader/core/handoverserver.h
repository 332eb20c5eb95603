#pragma once

#include "handovermessage.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <sys/types.h>
#include <unistd.h>

namespace quorrin::downloader {

// The window's end of the hand-over: takes the connections on a listening socket, reads one
// message from each, gives it to the receiver and writes back the receiver's reply. A
// connection from another user's process, a message that is malformed, of another version,
// longer than MaxHandOverBytes or not whole within `patience`, is closed without a reply, and
// the server goes on.
class HandOverServer : public QObject {
    Q_OBJECT
public:
    using Receiver = std::function<HandOverReply(const HandOver &)>;

    // Serves `listeningSocket`, which stays the caller's and outlives the server, for the
    // processes of the user `owner`.
    HandOverServer(int listeningSocket, Receiver receive, uid_t owner = ::geteuid(),
                   QObject *parent = nullptr);
    ~HandOverServer() override;

    // How long a connection may take to bring its whole message.
    std::chrono::milliseconds patience{10000};

Q_SIGNALS:
    // A connection was closed without a reply, for the reason given in French.
    void refused(const QString &cause);

private:
    class Connection;

    void acceptPending();
    void serve(Connection *connection);
    void refuse(Connection *connection, const QString &cause);

    int m_listening;
    Receiver m_receive;
    uid_t m_owner;
    int m_open = 0; // connections being read
};

} // namespace quorrin::downloader
