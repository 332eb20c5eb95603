#include "filelock.h"

#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin::downloader {

FileLock::FileLock(const QString &path)
{
    // A link or a FIFO in the lock file's place is no lock file of ours: not followed, not
    // waited on.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        m_cause = systemErrorCause(errno);
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        m_cause = systemErrorCause(EINVAL);
    } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        m_cause = errno == EWOULDBLOCK ? QStringLiteral("Utilisé par une autre fenêtre de Quorrin")
                                       : systemErrorCause(errno);
    } else {
        m_fd = fd;
        return;
    }
    ::close(fd);
}

FileLock::~FileLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // lets go of the lock
}

} // namespace quorrin::downloader
