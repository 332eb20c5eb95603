#include "scriptedserver.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::test {
namespace {

// A socket bound to 127.0.0.1 at a free port; returns the socket and sets `port`.
int boundLoopbackSocket(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    port = ntohs(address.sin_port);
    return fd;
}

bool readable(int fd, int milliseconds)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, milliseconds) > 0;
}

} // namespace

ScriptedServer::ScriptedServer(QByteArray reply, Ending ending)
    : ScriptedServer([reply, ending](const QByteArray &, int) {
        return Reply{reply, ending};
    })
{
}

ScriptedServer::ScriptedServer(Script script)
    : m_script(std::move(script))
{
    m_listener = boundLoopbackSocket(m_port);
    if (::listen(m_listener, 8) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_thread = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    m_thread.join();
    for (const int fd : m_stalled)
        ::close(fd);
    ::close(m_listener);
}

QString ScriptedServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void ScriptedServer::serve()
{
    while (!m_stop) {
        if (!readable(m_listener, 20))
            continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            answer(connection);
    }
}

void ScriptedServer::answer(int connection)
{
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n") && !m_stop && readable(connection, 2000)) {
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    const Reply reply = m_script(request, m_served++);
    send(connection, reply);
    switch (reply.ending) {
    case Ending::Close:
        ::shutdown(connection, SHUT_WR);
        break;
    case Ending::Reset: {
        const linger abort{1, 0}; // closing with a zero linger time sends RST
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
    }
    case Ending::Stall:
        m_stalled.push_back(connection);
        return;
    }
    ::close(connection);
}

void ScriptedServer::send(int connection, const Reply &reply)
{
    const auto out = [connection](const QByteArray &bytes) {
        return bytes.isEmpty() ||
               ::send(connection, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) > 0;
    };
    if (reply.paceMs <= 0) {
        out(reply.bytes);
        return;
    }
    const qsizetype bodyStart = reply.bytes.indexOf("\r\n\r\n") + 4;
    bool open = out(reply.bytes.left(bodyStart));
    for (qsizetype at = bodyStart; open && at < reply.bytes.size() && !m_stop;
         at += reply.paceBytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.paceMs));
        open = out(reply.bytes.mid(at, reply.paceBytes));
    }
}

ClosedPort::ClosedPort()
{
    m_socket = boundLoopbackSocket(m_port);
}

ClosedPort::~ClosedPort()
{
    ::close(m_socket);
}

} // namespace quorrin::test
