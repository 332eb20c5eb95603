#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace quorrin::bench {

// A loopback TCP relay to `port` that holds every byte back for `delay` in each direction,
// like a link to a server far away: a round trip costs twice the delay, however fast the two
// ends are. Stops when destroyed.
class DelayingProxy {
public:
    DelayingProxy(int port, std::chrono::milliseconds delay);
    ~DelayingProxy();
    DelayingProxy(const DelayingProxy &) = delete;
    DelayingProxy &operator=(const DelayingProxy &) = delete;

    // The address of `url` (an http://127.0.0.1:<port>/ address) through the proxy.
    QString through(const QString &url) const;

private:
    void serve();
    void relay(int client);

    int m_target;
    std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_connections;
    std::thread m_thread;
};

} // namespace quorrin::bench
