#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace quorrin::test {

// A real HTTP server on 127.0.0.1 at a free port, serving on its own thread so that a
// blocking transfer on the test's thread can reach it. Stops when destroyed.
class HttpServer {
public:
    // `routes` registers the handlers before the server starts listening, on `port`, or on a
    // free port when it is 0.
    explicit HttpServer(const std::function<void(httplib::Server &)> &routes, int port = 0);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString &path) const;
    // The connections to the server that its clients hold open, as the system lists them.
    int openConnections() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    int m_port = 0;
    std::thread m_thread;
};

} // namespace quorrin::test
