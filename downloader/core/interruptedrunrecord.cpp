#include "interruptedrunrecord.h"

#include "durablefile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

// Reads `fd` to its end; nothing past `limit` bytes or on a read error.
std::optional<QByteArray> readToEnd(int fd, qsizetype limit)
{
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || bytes.size() + got > limit)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

// Why an open fails that says nothing of the file: none there, or the process is short of
// file descriptors or memory for now.
bool saysNothingOfTheFile(int error)
{
    return error == ENOENT || error == EMFILE || error == ENFILE || error == ENOMEM;
}

// The bytes of the regular file at `path`; nothing when what stands there cannot be read
// whole, or when nothing can be told of it (`unknown` then set). A link is not followed, nor a
// FIFO waited on.
std::optional<QByteArray> readRegularFile(const QString &path, bool &unknown)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    unknown = fd < 0 && saysNothingOfTheFile(errno);
    if (fd < 0)
        return std::nullopt;
    struct stat status {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size <= MaxInterruptedRunBytes)
        bytes = readToEnd(fd, MaxInterruptedRunBytes);
    ::close(fd);
    return bytes;
}

Result<> notOwned(const FileLock &lock)
{
    return Failure{lock.cause()};
}

} // namespace

InterruptedRunRecord::InterruptedRunRecord(const QString &dataDirectory)
    : m_path(QDir(dataDirectory).filePath(InterruptedRunFileName))
    , m_lock(QDir(dataDirectory).filePath(InterruptedRunLockName))
{
}

QList<InterruptedEntry> InterruptedRunRecord::read() const
{
    if (!owned())
        return {};
    removeLeftoverTemporaries(m_path);
    bool unknown = false;
    const std::optional<QByteArray> bytes = readRegularFile(m_path, unknown);
    if (unknown)
        return {};
    std::optional<QList<InterruptedEntry>> entries =
        bytes ? parseInterruptedRun(*bytes) : std::nullopt;
    if (!entries) {
        // Kept for whoever wants to look at it; where it went is shown to no one.
        static_cast<void>(setFileAside(m_path, SetAsideSuffix));
        return {};
    }
    return *entries;
}

Result<> InterruptedRunRecord::write(const QList<InterruptedEntry> &entries) const
{
    if (!owned())
        return notOwned(m_lock);
    if (entries.isEmpty())
        return removeFileDurably(m_path);
    return replaceFileDurably(m_path, [&entries](int fd) {
        int error = 0;
        serializeInterruptedRun(entries, [fd, &error](const QByteArray &piece) {
            error = writeAll(fd, piece);
            return error == 0;
        });
        return error;
    });
}

std::unique_ptr<AppendFile> InterruptedRunRecord::openLog() const
{
    if (!owned())
        return nullptr;
    return std::make_unique<AppendFile>(m_path);
}

Result<> InterruptedRunRecord::remove() const
{
    if (!owned())
        return notOwned(m_lock);
    return removeFileDurably(m_path);
}

} // namespace quorrin::downloader
