#pragma once

#include <QString>

#include <atomic>
#include <netinet/in.h>
#include <thread>
#include <vector>

namespace quorrin::bench {

// A loopback TCP relay to a server's `port`: each connection it accepts gets one to the server
// and a thread of its own, on which the relay's kind carries the bytes. Its kind's destructor
// calls stop() before its members go.
class LoopbackRelay {
public:
    virtual ~LoopbackRelay();
    LoopbackRelay(const LoopbackRelay &) = delete;
    LoopbackRelay &operator=(const LoopbackRelay &) = delete;

    // The address of `url` (an http://127.0.0.1:<port>/ address) through the relay.
    QString through(const QString &url) const;

protected:
    explicit LoopbackRelay(int port);
    void start();
    void stop();
    bool stopping() const { return m_stop; }
    // Carries the bytes between the two, until either end closes or the relay stops; both are
    // closed afterwards.
    virtual void relay(int client, int server) = 0;

private:
    void serve();

    int m_target;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_connections;
    std::thread m_thread;
};

// A loopback address at `port`.
sockaddr_in loopbackAddress(int port);

} // namespace quorrin::bench
