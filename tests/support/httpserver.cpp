#include "httpserver.h"

#include <QFile>
#include <QList>

#include <chrono>
#include <httplib.h>
#include <stdexcept>

namespace quorrin::test {

HttpServer::HttpServer(const std::function<void(httplib::Server &)> &routes, int port)
    : m_server(std::make_unique<httplib::Server>())
{
    routes(*m_server);
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                       : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a loopback port");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() only reaches a server that has entered its accept loop.
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpServer::~HttpServer()
{
    m_server->stop();
    m_thread.join();
}

QString HttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

// Each line of /proc/net/tcp: "sl local rem st ...", addresses as hexadecimal "address:port",
// an established connection in state 01.
int HttpServer::openConnections() const
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ':' + QByteArray::number(m_port, 16).toUpper().rightJustified(4, '0');
    int count = 0;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(2).endsWith(remote) && fields.at(3) == "01")
            ++count;
    }
    return count;
}

} // namespace quorrin::test
