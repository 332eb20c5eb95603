#include "appendfile.h"

#include "durablefile.h"
#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin::downloader {

AppendFile::AppendFile(const QString &path)
{
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (m_fd >= 0 && (::fstat(m_fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(m_fd);
        m_fd = -1;
        errno = EINVAL;
    }
    if (m_fd < 0)
        m_failure = systemErrorCause(errno);
}

AppendFile::~AppendFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Result<> AppendFile::append(const QByteArray &bytes)
{
    if (m_fd < 0)
        return Failure{m_failure};
    if (const int error = writeAll(m_fd, bytes); error != 0)
        return Failure{systemErrorCause(error)};
    return {};
}

Result<> AppendFile::sync()
{
    if (m_fd < 0)
        return Failure{m_failure};
    if (::fdatasync(m_fd) != 0)
        return Failure{systemErrorCause(errno)};
    return {};
}

} // namespace quorrin::downloader
