#include "delayingproxy.h"

#include <arpa/inet.h>
#include <deque>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Bytes on their way in one direction, each piece due at its time.
struct Direction {
    int from;
    int to;
    std::deque<std::pair<Clock::time_point, std::string>> pending;
    bool closed = false; // the sender has closed: once all is delivered, so does the relay
};

bool sendAll(int fd, const std::string &data)
{
    size_t at = 0;
    while (at < data.size()) {
        const ssize_t sent = ::send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        at += size_t(sent);
    }
    return true;
}

} // namespace

DelayingProxy::DelayingProxy(int port, std::chrono::milliseconds delay)
    : LoopbackRelay(port)
    , m_delay(delay)
{
    start();
}

DelayingProxy::~DelayingProxy()
{
    stop();
}

// Both directions of one connection on one thread: read what comes at once, send it when due.
void DelayingProxy::relay(int client, int server)
{
    const int on = 1;
    for (const int fd : {client, server})
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Direction directions[] = {{client, server, {}}, {server, client, {}}};
    std::string buffer(1 << 18, '\0');
    bool open = true;
    while (open && !stopping()) {
        Clock::time_point next = Clock::now() + std::chrono::milliseconds(100);
        for (const Direction &direction : directions)
            if (!direction.pending.empty())
                next = std::min(next, direction.pending.front().first);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now());
        pollfd entries[] = {{client, short(directions[0].closed ? 0 : POLLIN), 0},
                            {server, short(directions[1].closed ? 0 : POLLIN), 0}};
        ::poll(entries, 2, int(std::max<long long>(0, wait.count())));
        for (int i = 0; i < 2; ++i) {
            Direction &direction = directions[i];
            if (entries[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t got = ::recv(direction.from, buffer.data(), buffer.size(), 0);
                if (got > 0)
                    direction.pending.emplace_back(Clock::now() + m_delay,
                                                   buffer.substr(0, size_t(got)));
                else
                    direction.closed = true;
            }
            const Clock::time_point now = Clock::now();
            while (open && !direction.pending.empty() && direction.pending.front().first <= now) {
                open = sendAll(direction.to, direction.pending.front().second);
                direction.pending.pop_front();
            }
            if (direction.closed && direction.pending.empty())
                open = false;
        }
    }
}

} // namespace quorrin::bench
