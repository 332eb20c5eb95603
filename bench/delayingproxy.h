#pragma once

#include "loopbackrelay.h"

#include <chrono>

namespace quorrin::bench {

// A loopback TCP relay to `port` that holds every byte back for `delay` in each direction,
// like a link to a server far away: a round trip costs twice the delay, however fast the two
// ends are. Stops when destroyed.
class DelayingProxy : public LoopbackRelay {
public:
    DelayingProxy(int port, std::chrono::milliseconds delay);
    ~DelayingProxy() override;

private:
    void relay(int client, int server) override;

    std::chrono::milliseconds m_delay;
};

} // namespace quorrin::bench
