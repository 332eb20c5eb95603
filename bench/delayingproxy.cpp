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

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

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
    : m_target(port)
    , m_delay(delay)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        ::listen(m_listener, 64) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

DelayingProxy::~DelayingProxy()
{
    m_stop = true;
    m_thread.join();
    for (std::thread &connection : m_connections)
        connection.join();
    ::close(m_listener);
}

QString DelayingProxy::through(const QString &url) const
{
    QString address = url;
    const qsizetype colon = address.indexOf(QLatin1Char(':'), 7);
    const qsizetype slash = address.indexOf(QLatin1Char('/'), colon);
    return address.replace(colon + 1, slash - colon - 1, QString::number(m_port));
}

void DelayingProxy::serve()
{
    while (!m_stop) {
        pollfd entry{m_listener, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0)
            m_connections.emplace_back([this, client] { relay(client); });
    }
}

// Both directions of one connection on one thread: read what comes at once, send it when due.
void DelayingProxy::relay(int client)
{
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(m_target);
    if (server < 0 ||
        ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(client);
        return;
    }
    const int on = 1;
    for (const int fd : {client, server})
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Direction directions[] = {{client, server, {}}, {server, client, {}}};
    std::string buffer(1 << 18, '\0');
    bool open = true;
    while (open && !m_stop) {
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
    ::close(server);
    ::close(client);
}

} // namespace quorrin::bench
