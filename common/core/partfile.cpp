#include "partfile.h"

#include "fileplacement.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace quorrin {
namespace {

// Keeps ".<name>.XXXXXX.part" within the 255 bytes a file name may have.
constexpr qsizetype MaxNameInPartFile = 200;
// How much written data may wait in memory before the disk is asked to start writing it.
constexpr qint64 WritebackStep = 8 << 20;

QByteArray randomSuffix()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, '\0');
    for (char &c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return suffix;
}

DownloadFailure failureOfErrno(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return DownloadFailure::DiskFull;
    case ENOENT:
    case ENOTDIR:
    case EACCES:
    case EPERM:
    case EROFS:
    case ENAMETOOLONG:
        return DownloadFailure::TargetNotWritable;
    default:
        return DownloadFailure::WriteFailed;
    }
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray directoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// Opens the visible part file, or creates it where there is none; -1 when neither works or
// what has that name is no regular file. `created` tells a new file from one that was there.
int openVisible(const QByteArray &path, bool &created, struct stat &status)
{
    created = true;
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

PartFile::PartFile(const QString &target)
    : m_target(QFile::encodeName(target))
{
    int mode = -1;
    if (checkTarget(mode))
        create(directoryOf(m_target), nameOf(m_target), mode);
}

PartFile::PartFile(const QString &target, const QByteArray &url)
    : m_target(QFile::encodeName(target))
{
    int mode = -1;
    if (!checkTarget(mode))
        return;
    const QByteArray visible = m_target + ".part";
    bool created = true;
    struct stat status {};
    const int fd = openVisible(visible, created, status);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        m_failure = DownloadFailure::BeingDownloadedElsewhere;
        return;
    }
    const std::optional<ResumeRecord> earlier =
        fd >= 0 && !created ? ResumeRecord::read(fd) : std::nullopt;
    // A file of that name that is not one of ours is never touched.
    if (fd < 0 || (!created && !earlier)) {
        if (fd >= 0)
            ::close(fd);
        create(directoryOf(m_target), nameOf(m_target), mode);
        return;
    }
    m_fd = fd;
    m_temporary = visible;
    m_record.url = url;
    if (earlier && earlier->url == url && !earlier->validator.isEmpty()) {
        m_record = *earlier;
        m_record.held = std::min<qint64>(earlier->held, status.st_size);
    }
    if (::ftruncate(m_fd, m_record.held) != 0 || ::lseek(m_fd, m_record.held, SEEK_SET) < 0) {
        fail(errno);
        return;
    }
    m_size = m_writebackStart = m_record.held;
    m_keepable = m_record.write(m_fd);
}

// The target must be a file or nothing; a replaced file's permissions go to the new one.
bool PartFile::checkTarget(int &mode)
{
    struct stat existing {};
    const bool exists = !m_target.isEmpty() && ::stat(m_target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        m_failure = DownloadFailure::TargetIsDirectory;
        return false;
    }
    // Renaming onto a device, a pipe or a socket would replace it: refuse rather than surprise.
    if ((exists && !S_ISREG(existing.st_mode)) || nameOf(m_target).isEmpty()) {
        m_failure = DownloadFailure::TargetNotWritable;
        return false;
    }
    // A new file gets the usual permissions (umask applies).
    mode = exists ? int(existing.st_mode & 0777) : -1;
    return true;
}

PartFile::~PartFile()
{
    discard();
}

QString PartFile::temporaryPath() const
{
    return QFile::decodeName(m_temporary);
}

bool PartFile::create(const QByteArray &directory, const QByteArray &name, int mode)
{
    const QByteArray stem = name.left(MaxNameInPartFile);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = directory + '/' + '.' + stem + '.' + randomSuffix() + ".part";
        m_fd = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temporary = candidate;
            if (mode >= 0)
                ::fchmod(m_fd, mode_t(mode));
            return true;
        }
        if (errno != EEXIST) {
            m_failure = failureOfErrno(errno);
            return false;
        }
    }
    m_failure = DownloadFailure::WriteFailed;
    return false;
}

bool PartFile::restart()
{
    if (m_fd < 0)
        return false;
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0) {
        fail(errno);
        return false;
    }
    // What the disk was asked to write of the old bytes says nothing of the new ones: the
    // record must not claim them as held after the next step.
    m_size = m_writebackStart = m_writtenBack = 0;
    if (m_keepable)
        ResumeRecord::writeHeld(m_fd, 0);
    return true;
}

void PartFile::recordVersion(const QByteArray &validator, qint64 total)
{
    m_record.validator = validator;
    m_record.total = total;
    m_record.held = m_size;
    if (m_keepable)
        m_record.write(m_fd);
}

void PartFile::keep()
{
    if (m_fd < 0)
        return;
    if (!m_keepable || m_record.validator.isEmpty() || m_size == 0 || ::fdatasync(m_fd) != 0) {
        discard();
        return;
    }
    ResumeRecord::writeHeld(m_fd, m_size);
    ::close(m_fd);
    m_fd = -1;
    m_temporary.clear();
}

bool PartFile::write(const char *data, std::size_t size)
{
    while (size > 0 && m_fd >= 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(written < 0 ? errno : ENOSPC);
            return false;
        }
        data += written;
        size -= std::size_t(written);
        m_size += written;
    }
    startWriteback();
    return m_fd >= 0;
}

// The final fsync must wait for every byte to reach the disk. Starting the disk's work while
// the data still arrives lets the two overlap, instead of adding the whole write-out of a
// large file after its transfer.
void PartFile::startWriteback()
{
#ifdef __linux__
    if (m_fd >= 0 && m_size - m_writebackStart >= WritebackStep) {
        // What the disk was asked to write a step ago is there by now: a part file that a
        // crash or a power cut stops can be continued from it.
        if (m_keepable && m_writtenBack > 0) {
            ::sync_file_range(m_fd, 0, m_writtenBack,
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER);
            ResumeRecord::writeHeld(m_fd, m_writtenBack);
        }
        ::sync_file_range(m_fd, m_writebackStart, m_size - m_writebackStart, SYNC_FILE_RANGE_WRITE);
        m_writtenBack = m_size;
        m_writebackStart = m_size;
    }
#endif
}

bool PartFile::commit(const QByteArray &origin, bool replace)
{
    if (m_fd < 0)
        return false;
    // The freedesktop convention that browsers follow; a file system without extended
    // attributes simply keeps none.
    if (m_keepable)
        ResumeRecord::erase(m_fd);
    if (!origin.isEmpty())
        ::fsetxattr(m_fd, "user.xdg.origin.url", origin.constData(), size_t(origin.size()), 0);
    // Some file systems report a full disk only when the data is flushed or the file closed.
    if (::fsync(m_fd) != 0) {
        fail(errno);
        return false;
    }
    if (!placeFile(m_temporary, m_target, replace)) {
        const int error = errno;
        if (!replace && error == EEXIST) {
            m_failure = DownloadFailure::TargetTaken;
            return false;
        }
        fail(error);
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    m_temporary.clear();
    syncDirectory(directoryOf(m_target));
    return true;
}

void PartFile::retarget(const QString &target)
{
    m_target = QFile::encodeName(target);
    m_failure = DownloadFailure::None;
}

void PartFile::fail(int error)
{
    const DownloadFailure failure = failureOfErrno(error);
    m_failure = failure == DownloadFailure::DiskFull ? failure : DownloadFailure::WriteFailed;
    discard();
}

void PartFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
}

} // namespace quorrin
