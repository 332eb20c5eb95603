#include "cuttingproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::bench {
namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    return address;
}

bool sendAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= sent;
    }
    return true;
}

} // namespace

CuttingProxy::CuttingProxy(int port, qint64 cutAfter)
    : m_target(port)
    , m_cutAfter(cutAfter)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        ::listen(m_listener, 16) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

CuttingProxy::~CuttingProxy()
{
    m_stop = true;
    m_thread.join();
    for (std::thread &connection : m_connections)
        connection.join();
    ::close(m_listener);
}

QString CuttingProxy::through(const QString &url) const
{
    QString address = url;
    const qsizetype colon = address.indexOf(QLatin1Char(':'), 7);
    const qsizetype slash = address.indexOf(QLatin1Char('/'), colon);
    return address.replace(colon + 1, slash - colon - 1, QString::number(m_port));
}

void CuttingProxy::serve()
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

void CuttingProxy::relay(int client)
{
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(m_target);
    if (server < 0 ||
        ::connect(server, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(client);
        return;
    }
    std::vector<char> buffer(1 << 20);
    qint64 carried = 0;
    bool open = true;
    while (open && !m_stop) {
        pollfd entries[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        if (::poll(entries, 2, 100) <= 0)
            continue;
        for (int i = 0; i < 2 && open; ++i) {
            if (!(entries[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const int from = entries[i].fd;
            const int to = from == client ? server : client;
            ssize_t want = ssize_t(buffer.size());
            if (from == server && m_cutAfter > 0)
                want = ssize_t(std::min<qint64>(want, m_cutAfter - carried));
            const ssize_t got = ::recv(from, buffer.data(), size_t(want), 0);
            open = got > 0 && sendAll(to, buffer.data(), got);
            if (open && from == server) {
                carried += got;
                m_relayed += got;
                open = m_cutAfter == 0 || carried < m_cutAfter;
            }
        }
    }
    ::close(server);
    ::close(client);
}

} // namespace quorrin::bench
