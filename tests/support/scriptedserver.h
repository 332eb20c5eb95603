#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorrin::test {

// A loopback TCP server for replies that a well-behaved HTTP server never sends: it reads
// each request, writes `reply` (or what the script answers) as it is, then ends the
// connection as `ending` says.
// Connections are served one after the other on its own thread, or, when asked, each on a
// thread of its own at once (the script is then called from several threads); it stops when
// destroyed.
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
        // When set, `bodyLength` more bytes follow `bytes`, made as they go out: the body's
        // bytes from an offset, so many. Paced, its first `paceBytes` go with `bytes`.
        std::function<QByteArray(qint64 offset, qint64 length)> body = {};
        qint64 bodyLength = 0;
        // Called once the reply has gone out, `whole` or cut short by the client.
        std::function<void(bool whole)> sent = {};
    };
    using Script = std::function<Reply(const QByteArray &request, int index)>;

    enum class Serving { OneAfterTheOther, AllAtOnce };
    ScriptedServer(QByteArray reply, Ending ending);
    explicit ScriptedServer(Script script, Serving serving = Serving::OneAfterTheOther);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    QString url(const QString &path) const;
    // The connections to the server that its clients hold open, as the system lists them.
    int openConnections() const;

private:
    void serve();
    void answer(int connection);
    bool send(int connection, const Reply &reply);

    Script m_script;
    Serving m_serving;
    std::atomic<int> m_served{0};
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;           // guards what follows
    std::vector<int> m_answering; // connections being answered
    std::vector<int> m_stalled;
    std::vector<std::thread> m_workers;
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
