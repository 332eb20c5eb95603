#include "scriptedserver.h"

#include "tcpconnections.h"

#include <QFile>
#include <QList>

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

ScriptedServer::ScriptedServer(Script script, Serving serving)
    : m_script(std::move(script))
    , m_serving(serving)
{
    m_listener = boundLoopbackSocket(m_port);
    if (::listen(m_listener, 8) != 0)
        throw std::runtime_error("cannot listen on a loopback port");
    m_thread = std::thread([this] { serve(); });
}

ScriptedServer::~ScriptedServer()
{
    m_stop = true;
    {
        // An answer blocked on a client that reads no more (a test that failed half-way) ends.
        const std::lock_guard lock(m_mutex);
        for (const int fd : m_answering)
            ::shutdown(fd, SHUT_RDWR);
    }
    m_thread.join();
    for (std::thread &worker : m_workers)
        worker.join();
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
        if (connection < 0)
            continue;
        {
            const std::lock_guard lock(m_mutex);
            m_answering.push_back(connection);
        }
        if (m_serving == Serving::OneAfterTheOther) {
            answer(connection);
            continue;
        }
        const std::lock_guard lock(m_mutex);
        m_workers.emplace_back([this, connection] { answer(connection); });
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
    const bool whole = send(connection, reply);
    if (reply.sent)
        reply.sent(whole);
    {
        // Nothing of its ending blocks; and its number is free for another socket once it is
        // closed, which nothing may shut down.
        const std::lock_guard lock(m_mutex);
        std::erase(m_answering, connection);
    }
    switch (reply.ending) {
    case Ending::Close:
        ::shutdown(connection, SHUT_WR);
        break;
    case Ending::Reset: {
        const linger abort{1, 0}; // closing with a zero linger time sends RST
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        break;
    }
    case Ending::Stall: {
        const std::lock_guard lock(m_mutex);
        m_stalled.push_back(connection);
        return;
    }
    }
    ::close(connection);
}

bool ScriptedServer::send(int connection, const Reply &reply)
{
    const auto out = [connection](const QByteArray &bytes) {
        return bytes.isEmpty() ||
               ::send(connection, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) > 0;
    };
    // A made body goes out in bursts, the first one with the headers, as a server that holds
    // each connection to a rate sends.
    if (reply.body) {
        const qint64 step = reply.paceMs > 0 ? reply.paceBytes : 256 * 1024;
        bool open = out(reply.bytes + reply.body(0, std::min(step, reply.bodyLength)));
        for (qint64 at = step; open && at < reply.bodyLength && !m_stop; at += step) {
            if (reply.paceMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.paceMs));
            open = out(reply.body(at, std::min(step, reply.bodyLength - at)));
        }
        return open && !m_stop;
    }
    if (reply.paceMs <= 0)
        return out(reply.bytes);
    const qsizetype bodyStart = reply.bytes.indexOf("\r\n\r\n") + 4;
    bool open = out(reply.bytes.left(bodyStart));
    for (qsizetype at = bodyStart; open && at < reply.bytes.size() && !m_stop;
         at += reply.paceBytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.paceMs));
        open = out(reply.bytes.mid(at, reply.paceBytes));
    }
    return open && !m_stop;
}

int ScriptedServer::openConnections() const
{
    return establishedConnections(m_port);
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
