#pragma once

#include "loopbackrelay.h"

#include <QtGlobal>

#include <atomic>

namespace quorrin::bench {

// A loopback TCP relay to `port` that cuts each connection once it has carried `cutAfter`
// bytes from the server to the client (0: never), like a link that keeps dropping. Counts
// the bytes it relayed to clients. Stops when destroyed.
class CuttingProxy : public LoopbackRelay {
public:
    CuttingProxy(int port, qint64 cutAfter);
    ~CuttingProxy() override;

    qint64 relayed() const { return m_relayed; }

private:
    void relay(int client, int server) override;

    qint64 m_cutAfter;
    std::atomic<qint64> m_relayed{0};
};

} // namespace quorrin::bench
