#include "windowclaim.h"

#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

// Room for the starts that come at the same moment; the window reads them one after another.
constexpr int Backlog = 64;

} // namespace

WindowClaim::WindowClaim(const HandOverPlace &place)
    : m_socketPath(place.socketPath)
    , m_lock(place.lockPath)
{
    if (!m_lock.owned()) {
        m_cause = m_lock.cause();
        return;
    }
    const QByteArray path = QFile::encodeName(m_socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path)) {
        m_cause = systemErrorCause(ENAMETOOLONG);
        return;
    }
    std::memcpy(address.sun_path, path.constData(), path.size());
    if (::unlink(path.constData()) != 0 && errno != ENOENT) {
        m_cause = systemErrorCause(errno);
        return;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_cause = systemErrorCause(errno);
        return;
    }
    // The directory is the user's alone already; the socket is too, whatever the umask.
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::chmod(path.constData(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, Backlog) != 0) {
        m_cause = systemErrorCause(errno);
        ::close(fd);
        return;
    }
    m_socket = fd;
}

WindowClaim::~WindowClaim()
{
    if (m_socket < 0)
        return;
    ::unlink(QFile::encodeName(m_socketPath).constData());
    ::close(m_socket);
}

} // namespace quorrin::downloader
