#include "loopbackrelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::bench {

sockaddr_in loopbackAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

LoopbackRelay::LoopbackRelay(int port)
    : m_target(port)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        ::listen(m_listener, 64) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_port = ntohs(address.sin_port);
}

LoopbackRelay::~LoopbackRelay()
{
    stop();
    ::close(m_listener);
}

void LoopbackRelay::start()
{
    m_thread = std::thread([this] { serve(); });
}

void LoopbackRelay::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    for (std::thread &connection : m_connections)
        connection.join();
    m_connections.clear();
}

QString LoopbackRelay::through(const QString &url) const
{
    QString address = url;
    const qsizetype colon = address.indexOf(QLatin1Char(':'), 7);
    const qsizetype slash = address.indexOf(QLatin1Char('/'), colon);
    return address.replace(colon + 1, slash - colon - 1, QString::number(m_port));
}

void LoopbackRelay::serve()
{
    while (!m_stop) {
        pollfd entry{m_listener, POLLIN, 0};
        if (::poll(&entry, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        m_connections.emplace_back([this, client] {
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopbackAddress(m_target);
            if (server >= 0 && ::connect(server, reinterpret_cast<const sockaddr *>(&address),
                                         sizeof address) == 0)
                relay(client, server);
            if (server >= 0)
                ::close(server);
            ::close(client);
        });
    }
}

} // namespace quorrin::bench
