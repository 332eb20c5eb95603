#include "handoverserver.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <sys/socket.h>

namespace quorrin::downloader {
namespace {

// Starts at the same moment each get a connection; more than this at once is no start of ours.
constexpr int MaxOpenConnections = 32;

// The user that runs the process at the other end of `fd`, when the system tells it.
std::optional<uid_t> peerUser(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}

} // namespace

// One accepted connection: what it has brought so far, until its message is whole.
class HandOverServer::Connection : public QObject {
public:
    Connection(int fd, HandOverServer *server)
        : QObject(server)
        , fd(fd)
        , notifier(fd, QSocketNotifier::Read, this)
    {
        timer.setSingleShot(true);
        timer.setInterval(server->patience);
        timer.start();
    }
    ~Connection() override { ::close(fd); }

    // Reads what has arrived: false once the peer has sent all it will (or failed).
    bool readAvailable()
    {
        char buffer[64 * 1024];
        for (;;) {
            const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
            if (count > 0) {
                if (bytes.size() + count > MaxHandOverBytes) {
                    tooLong = true;
                    return false;
                }
                bytes.append(buffer, count);
            } else if (count == 0) {
                return false;
            } else if (errno == EAGAIN) {
                return true;
            } else if (errno != EINTR) {
                failed = true;
                return false;
            }
        }
    }

    // Closes the connection once control is back in the event loop.
    void finish()
    {
        notifier.setEnabled(false);
        timer.stop();
        deleteLater();
    }

    const int fd;
    QSocketNotifier notifier;
    QTimer timer;
    QByteArray bytes;
    bool tooLong = false;
    bool failed = false;
};

HandOverServer::HandOverServer(int listeningSocket, Receiver receive, uid_t owner, QObject *parent)
    : QObject(parent)
    , m_listening(listeningSocket)
    , m_receive(std::move(receive))
    , m_owner(owner)
{
    auto *notifier = new QSocketNotifier(listeningSocket, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &HandOverServer::acceptPending);
    // Starts that came before the window was ready wait in the socket's queue.
    QTimer::singleShot(0, this, &HandOverServer::acceptPending);
}

HandOverServer::~HandOverServer() = default;

void HandOverServer::acceptPending()
{
    for (;;) {
        const int fd = ::accept4(m_listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        auto *connection = new Connection(fd, this);
        ++m_open;
        if (peerUser(fd) != m_owner) {
            refuse(connection, QStringLiteral("connexion d'un autre utilisateur"));
            continue;
        }
        if (m_open > MaxOpenConnections) {
            refuse(connection, QStringLiteral("trop de connexions à la fois"));
            continue;
        }
        connect(&connection->notifier, &QSocketNotifier::activated, this,
                [this, connection] { serve(connection); });
        connect(&connection->timer, &QTimer::timeout, this,
                [this, connection] { refuse(connection, QStringLiteral("message inachevé")); });
    }
}

void HandOverServer::serve(Connection *connection)
{
    if (connection->readAvailable())
        return;
    if (connection->tooLong)
        return refuse(connection, QStringLiteral("message trop long"));
    if (connection->failed)
        return refuse(connection, QStringLiteral("connexion rompue"));
    const std::optional<HandOver> handOver = parseHandOver(connection->bytes);
    if (!handOver)
        return refuse(connection, QStringLiteral("message illisible"));
    // A reply is a few dozen bytes, and the connection's buffer is empty: it goes whole.
    const QByteArray reply = serializeHandOverReply(m_receive(*handOver));
    const ssize_t sent [[maybe_unused]] =
        ::send(connection->fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
    --m_open;
    connection->finish();
}

void HandOverServer::refuse(Connection *connection, const QString &cause)
{
    --m_open;
    connection->finish();
    Q_EMIT refused(cause);
}

} // namespace quorrin::downloader
