#include "httpserver.h"

#include "tcpconnections.h"

#include <QFile>
#include <QList>

#include <chrono>
#include <httplib.h>
#include <stdexcept>
#include <string>

namespace quorrin::test {

HttpServer::HttpServer(const std::function<void(httplib::Server &)> &routes, int port)
    : m_server(std::make_unique<httplib::Server>())
{
    routes(*m_server);
    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                       : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        throw std::runtime_error(port == 0 ? "cannot bind a loopback port"
                                           : "cannot bind loopback port " + std::to_string(port));
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

int HttpServer::openConnections() const
{
    return establishedConnections(m_port);
}

} // namespace quorrin::test
