#pragma once

#include <QString>

#include <atomic>
#include <thread>
#include <vector>

namespace quorrin::bench {

// A loopback TCP relay to `port` that cuts each connection once it has carried `cutAfter`
// bytes from the server to the client (0: never), like a link that keeps dropping. Counts
// the bytes it relayed to clients. Stops when destroyed.
class CuttingProxy {
public:
    CuttingProxy(int port, qint64 cutAfter);
    ~CuttingProxy();
    CuttingProxy(const CuttingProxy &) = delete;
    CuttingProxy &operator=(const CuttingProxy &) = delete;

    // The address of `url` (an http://127.0.0.1:<port>/ address) through the proxy.
    QString through(const QString &url) const;
    qint64 relayed() const { return m_relayed; }

private:
    void serve();
    void relay(int client);

    int m_target;
    qint64 m_cutAfter;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_relayed{0};
    std::vector<std::thread> m_connections;
    std::thread m_thread;
};

} // namespace quorrin::bench
