#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace quorrin::test {

// A loopback TCP server for replies that a well-behaved HTTP server never sends: it reads
// each request, writes `reply` (or what the script answers) as it is, then ends the
// connection as `ending` says.
// Connections are served one after the other on its own thread; it stops when destroyed.
class ScriptedServer {
public:
    enum class Ending {
        Close, // an orderly close
        Reset, // a TCP reset
        Stall, // keep the connection open, silent, until the server is destroyed
    };
    // What one connection gets, given its request and how many came before it.
    struct Reply {
        QByteArray bytes;
        Ending ending = Ending::Close;
        // When set, what follows the headers goes out `paceBytes` at a time, this far apart.
        int paceMs = 0;
        int paceBytes = 1;
    };
    using Script = std::function<Reply(const QByteArray &request, int index)>;

    ScriptedServer(QByteArray reply, Ending ending);
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString &path) const;

private:
    void serve();
    void answer(int connection);
    void send(int connection, const Reply &reply);

    Script m_script;
    int m_served = 0;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::vector<int> m_stalled;
    std::thread m_thread;
};

// A loopback port on which nothing listens while this lives: connections to it are refused.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort &) = delete;
    ClosedPort &operator=(const ClosedPort &) = delete;
    int port() const { return m_port; }

private:
    int m_socket = -1;
    int m_port = 0;
};

} // namespace quorrin::test
