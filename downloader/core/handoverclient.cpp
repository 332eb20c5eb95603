#include "handoverclient.h"

#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

using Clock = std::chrono::steady_clock;

// A reply is a few short lines; more is no reply of ours.
constexpr qsizetype MaxReplyBytes = 4096;

Delivery failed(const QString &cause)
{
    return {Delivery::Outcome::Failed, {}, cause};
}

Delivery notAnswering()
{
    return failed(QStringLiteral("la fenêtre de Quorrin déjà ouverte ne répond pas"));
}

// Waits until `fd` is ready for `events` or the deadline passes; false once it has.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, int(std::min<qint64>(left.count(), 1000)));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Whether the process listening at the other end of `fd` runs as this user.
bool peerIsOwnUser(int fd)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           credentials.uid == ::geteuid();
}

// Connects `fd` to the socket at `path`: 0, or the errno of the failure.
int connectTo(int fd, const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (encoded.size() >= qsizetype(sizeof address.sun_path))
        return ENAMETOOLONG;
    std::memcpy(address.sun_path, encoded.constData(), encoded.size());
    while (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        if (errno != EINTR)
            return errno;
    }
    return 0;
}

bool sendAll(int fd, const QByteArray &bytes, Clock::time_point deadline)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (count > 0) {
            sent += count;
        } else if (count < 0 && errno == EAGAIN) {
            if (!waitFor(fd, POLLOUT, deadline))
                return false;
        } else if (count == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Everything the window writes until it closes the connection; nothing when it does not in
// time or writes more than a reply.
std::optional<QByteArray> receiveAll(int fd, Clock::time_point deadline)
{
    QByteArray bytes;
    char buffer[1024];
    for (;;) {
        const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count == 0)
            return bytes;
        if (count > 0) {
            bytes.append(buffer, count);
            if (bytes.size() > MaxReplyBytes)
                return std::nullopt;
        } else if (errno == EAGAIN) {
            if (!waitFor(fd, POLLIN, deadline))
                return std::nullopt;
        } else if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

Delivery deliverOn(int fd, const QString &socketPath, const QByteArray &message,
                   Clock::time_point deadline)
{
    if (const int error = connectTo(fd, socketPath)) {
        // No socket, one that a window which ended left behind, or a window whose queue of
        // connections is full.
        if (error == ENOENT || error == ECONNREFUSED || error == EAGAIN)
            return {Delivery::Outcome::Unreachable, {}, {}};
        return failed(systemErrorCause(error));
    }
    if (!peerIsOwnUser(fd))
        return failed(QStringLiteral("le canal de la fenêtre appartient à un autre utilisateur"));
    if (!sendAll(fd, message, deadline))
        return notAnswering();
    ::shutdown(fd, SHUT_WR);
    const std::optional<QByteArray> bytes = receiveAll(fd, deadline);
    if (!bytes)
        return notAnswering();
    const std::optional<HandOverReply> reply = parseHandOverReply(*bytes);
    if (!reply)
        return failed(QStringLiteral("la fenêtre de Quorrin a refusé les adresses"));
    return {Delivery::Outcome::Answered, *reply, {}};
}

} // namespace

Delivery deliverHandOver(const QString &socketPath, const QByteArray &message,
                         std::chrono::milliseconds patience)
{
    const Clock::time_point deadline = Clock::now() + patience;
    // Connecting does not wait: the caller decides whether to try again.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return failed(systemErrorCause(errno));
    const Delivery delivery = deliverOn(fd, socketPath, message, deadline);
    ::close(fd);
    return delivery;
}

} // namespace quorrin::downloader
