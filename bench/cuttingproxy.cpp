#include "cuttingproxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::bench {
namespace {

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
    : LoopbackRelay(port)
    , m_cutAfter(cutAfter)
{
    start();
}

CuttingProxy::~CuttingProxy()
{
    stop();
}

void CuttingProxy::relay(int client, int server)
{
    std::vector<char> buffer(1 << 20);
    qint64 carried = 0;
    bool open = true;
    while (open && !stopping()) {
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
}

} // namespace quorrin::bench
