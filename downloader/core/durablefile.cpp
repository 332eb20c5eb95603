#include "durablefile.h"

#include "fileplacement.h"
#include "systemerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

// Far more set-aside files than anyone keeps; a bound, so that the search always ends.
constexpr int MaxSetAside = 10000;

QString temporaryPrefix(const QFileInfo &target)
{
    return QLatin1Char('.') + target.fileName() + QLatin1Char('.');
}

// A rename or an unlink is on the disk only once its directory is. A file system that cannot
// sync a directory (EINVAL) gives no better way, so that is no failure.
Result<> syncDirectoryOf(const QString &path)
{
    if (!syncDirectory(QFile::encodeName(QFileInfo(path).absolutePath())))
        return Failure{systemErrorCause(errno)};
    return {};
}

} // namespace

int writeAll(int fd, const QByteArray &contents)
{
    const char *data = contents.constData();
    qsizetype left = contents.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        data += written;
        left -= written;
    }
    return 0;
}

Result<> replaceFileDurably(const QString &path, const QByteArray &contents, int mode)
{
    return replaceFileDurably(
        path, [&contents](int fd) { return writeAll(fd, contents); }, mode);
}

Result<> replaceFileDurably(const QString &path, const ContentsWriter &write, int mode)
{
    const QFileInfo target(path);
    QByteArray temporary = QFile::encodeName(
        target.dir().filePath(temporaryPrefix(target) + QStringLiteral("XXXXXX")));
    // mkostemp creates the file with O_EXCL and mode 0600: never readable by others, not even
    // for a moment.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return Failure{systemErrorCause(errno)};
    int error = write(fd);
    if (error == 0 && mode != 0600 && ::fchmod(fd, mode_t(mode)) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && !placeFile(temporary, QFile::encodeName(path), true))
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return Failure{systemErrorCause(error)};
    }
    return syncDirectoryOf(path);
}

Result<> removeFileDurably(const QString &path)
{
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return errno == ENOENT ? Result<>() : Failure{systemErrorCause(errno)};
    return syncDirectoryOf(path);
}

Result<QString> setFileAside(const QString &path, const QString &suffix)
{
    const QByteArray from = QFile::encodeName(path);
    for (int number = 1; number <= MaxSetAside; ++number) {
        const QString aside =
            path + QLatin1Char('.') + suffix + QLatin1Char('-') + QString::number(number);
        if (placeFile(from, QFile::encodeName(aside), false)) {
            const Result<> synced = syncDirectoryOf(path);
            if (!synced)
                return Failure{synced.cause()};
            return aside;
        }
        if (errno != EEXIST)
            return Failure{systemErrorCause(errno)};
    }
    return Failure{systemErrorCause(EEXIST)};
}

void removeLeftoverTemporaries(const QString &path)
{
    const QFileInfo target(path);
    const QDir directory = target.dir();
    const QString pattern = temporaryPrefix(target) + QStringLiteral("??????");
    // The pattern's "[" or "*" in a file name would widen the match: compare the prefix too.
    for (const QString &name :
         directory.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (name.startsWith(temporaryPrefix(target)) && name.size() == pattern.size())
            ::unlink(QFile::encodeName(directory.filePath(name)).constData());
    }
}

} // namespace quorrin::downloader
