#include "fileplacement.h"

#include <QRandomGenerator>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin {
namespace {

QByteArray descriptorPath(int fd)
{
    return "/proc/self/fd/" + QByteArray::number(fd);
}

// A name nobody else uses in the directory of `path`, for a file on its way there.
QByteArray hiddenNameBeside(const QByteArray &path)
{
    return directoryOf(path) + "/.quorrin-" +
           QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".tmp";
}

// Linking the descriptor itself spares the kernel the walk through /proc; it needs a kernel
// that allows it to the file's opener (6.10) or the right to look anywhere. Where it is
// refused, the way through /proc is taken from then on.
std::atomic<bool> directLinkRefused = false;

bool linkOpenFile(int fd, const QByteArray &to)
{
    if (!directLinkRefused.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", AT_FDCWD, to.constData(), AT_EMPTY_PATH) == 0)
            return true;
        // The refusal reads ENOENT, as a missing directory does: the way through /proc tells.
        if (errno != ENOENT && errno != EPERM)
            return false;
    }
    if (::linkat(AT_FDCWD, descriptorPath(fd).constData(), AT_FDCWD, to.constData(),
                 AT_SYMLINK_FOLLOW) != 0)
        return false;
    directLinkRefused.store(true, std::memory_order_relaxed);
    return true;
}

} // namespace

bool canNameOpenFiles()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

bool placeOpenFile(int fd, const QByteArray &to, bool replace)
{
    if (!replace)
        return linkOpenFile(fd, to); // a link never replaces what has the name
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QByteArray hidden = hiddenNameBeside(to);
        if (!linkOpenFile(fd, hidden)) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::rename(hidden.constData(), to.constData()) == 0)
            return true;
        const int error = errno;
        ::unlink(hidden.constData());
        errno = error;
        return false;
    }
    errno = EEXIST;
    return false;
}

bool placeFile(const QByteArray &from, const QByteArray &to, bool replace)
{
    if (replace)
        return ::rename(from.constData(), to.constData()) == 0;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

bool namesFile(const QByteArray &path, int fd)
{
    struct stat named {};
    struct stat open {};
    return ::fstatat(AT_FDCWD, path.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &open) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool syncDirectory(const QByteArray &directory)
{
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const int error = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    errno = error;
    return error == 0;
}

QByteArray directoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

} // namespace quorrin
