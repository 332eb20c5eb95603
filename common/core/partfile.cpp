#include "partfile.h"

#include "fileplacement.h"
#include "urlencoding.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <mutex>
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
// A new part file gets its name, and so its record, once it holds this much: less is fetched
// again sooner than it is recorded, named and unnamed again, which for a queue of small files
// would be most of their cost.
constexpr qint64 NameAt = 64 << 10;
// How much new data, and how much time, between two notes of what a crash would leave.
constexpr qint64 NoteStep = 16 << 10;
constexpr auto NoteInterval = std::chrono::milliseconds(100);
// The first bytes of a file nobody can find yet wait in memory, to be written with its flush:
// the thread that receives a small file then makes no call to the disk for it. Less than
// NameAt, so that a file with a name never holds bytes that are not in it.
constexpr qsizetype PendingLimit = 32 << 10;

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

bool isOpenFailureOfTmpfile(int error)
{
    // The file system, or the kernel, cannot make a file without a name.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

int openUnnamed(const QByteArray &directory)
{
    if (!canNameOpenFiles()) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return ::open(directory.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
}

void setMode(int fd, int mode)
{
    if (mode >= 0)
        ::fchmod(fd, mode_t(mode));
}

} // namespace

// Record writes and the confirmations of what the disk holds take turns, and a confirmation
// that was on its way when the file started over confirms nothing. One confirmation waits on
// the disk queue at a time: a later step only gives it a newer claim, so that a disk slower
// than the line never has a queue of flushes ahead of the file's landing.
struct PartFile::RecordGuard {
    std::mutex mutex;
    unsigned generation = 0;
    std::optional<ByteRanges> claim; // what the waiting confirmation is to record as held
    bool confirming = false;         // a confirmation waits on the disk queue
};

PartFile::PartFile(const QString &target, Defer defer, Target use)
    : m_target(QFile::encodeName(target))
    , m_defer(std::move(defer))
    , m_guard(std::make_shared<RecordGuard>())
{
    int mode = -1;
    if (checkTarget(mode, use))
        createHidden(directoryOf(m_target), nameOf(m_target), mode);
}

PartFile::PartFile(const QString &target, const QByteArray &url, Defer defer, Target use,
                   Earlier earlier)
    : m_target(QFile::encodeName(target))
    , m_defer(std::move(defer))
    , m_guard(std::make_shared<RecordGuard>())
{
    int mode = -1;
    if (checkTarget(mode, use) && !openVisible(withoutUserInfo(url), mode, earlier) &&
        m_failure == DownloadFailure::None)
        createHidden(directoryOf(m_target), nameOf(m_target), mode);
}

void PartFile::removeKept(const QString &target, const QByteArray &url)
{
    const QByteArray visible = QFile::encodeName(target) + ".part";
    const int fd = ::open(visible.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return;
    struct stat status {};
    const bool held =
        ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    const std::optional<ResumeRecord> record = held ? ResumeRecord::read(fd) : std::nullopt;
    // The name goes while the file is locked, as in discard().
    if (record && withoutUserInfo(record->url) == withoutUserInfo(url) && namesFile(visible, fd))
        ::unlink(visible.constData());
    ::close(fd);
}

// The target must be a file or nothing; a replaced file's permissions go to the new one.
bool PartFile::checkTarget(int &mode, Target use)
{
    struct stat existing {};
    const bool exists = use == Target::MayReplace && !m_target.isEmpty() &&
                        ::stat(m_target.constData(), &existing) == 0;
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

QString PartFile::temporaryPath()
{
    if (!writePending())
        return {};
    if (m_temporary.isEmpty() && m_fd >= 0)
        return QStringLiteral("/proc/self/fd/%1").arg(m_fd);
    return QFile::decodeName(m_temporary);
}

// A file that nobody can find until it is complete, where the system allows it.
void PartFile::createHidden(const QByteArray &directory, const QByteArray &name, int mode)
{
    m_fd = openUnnamed(directory);
    if (m_fd >= 0) {
        setMode(m_fd, mode);
        return;
    }
    if (!isOpenFailureOfTmpfile(errno)) {
        m_failure = failureOfErrno(errno);
        return;
    }
    const QByteArray stem = name.left(MaxNameInPartFile);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = directory + '/' + '.' + stem + '.' + randomSuffix() + ".part";
        m_fd = ::open(candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_temporary = candidate;
            setMode(m_fd, mode);
            return;
        }
        if (errno != EEXIST) {
            m_failure = failureOfErrno(errno);
            return;
        }
    }
    m_failure = DownloadFailure::WriteFailed;
}

// Continues the visible part file, or makes it; false when the data has to go elsewhere
// (failure() set when nowhere). A file said not to be there is looked for only when making
// one finds the name taken.
bool PartFile::openVisible(const QByteArray &url, int mode, Earlier earlier)
{
    const QByteArray visible = m_target + ".part";
    // Another process may make or replace the file between two of these steps.
    for (int attempt = 0; attempt < 3 && m_failure == DownloadFailure::None; ++attempt) {
        const bool lookFirst = attempt > 0 || earlier == Earlier::MayBeThere;
        const int fd =
            lookFirst ? ::open(visible.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)
                      : -1;
        if (fd >= 0) {
            if (continueVisible(fd, visible, url))
                return true;
            if (m_failure != DownloadFailure::None || namesFile(visible, fd))
                return false; // in use elsewhere, or not ours
            continue;
        }
        if (lookFirst && errno != ENOENT)
            return false; // a link, or something that cannot be opened: not ours
        if (createVisible(visible, url, mode))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// A new file, locked from the start. Where the system can name an open file later, it stays
// without a name until it holds enough to be worth continuing (see nameNow()); elsewhere it is
// made under its visible name at once, with its record.
bool PartFile::createVisible(const QByteArray &visible, const QByteArray &url, int mode)
{
    m_record.url = url;
    int fd = openUnnamed(directoryOf(visible));
    const bool unnamed = fd >= 0;
    if (!unnamed && !isOpenFailureOfTmpfile(errno)) {
        m_failure = failureOfErrno(errno);
        return false;
    }
    if (!unnamed)
        fd = ::open(visible.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        if (errno != EEXIST)
            m_failure = failureOfErrno(errno);
        return false;
    }
    setMode(fd, mode);
    m_fd = fd;
    // A file nobody can find needs its lock only when it gets a name.
    if (!unnamed)
        ::flock(fd, LOCK_EX | LOCK_NB);
    if (unnamed) {
        m_visibleLater = visible;
    } else {
        m_keepable = m_record.write(fd);
        m_temporary = visible;
    }
    return true;
}

// Gives the unnamed file its record, then its visible name, so that whoever finds it finds it
// locked and recorded. A name that something took meanwhile leaves it unnamed, not kept.
void PartFile::nameNow()
{
    if (m_visibleLater.isEmpty() || !writePending())
        return;
    const QByteArray visible = std::exchange(m_visibleLater, {});
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    {
        const std::lock_guard lock(m_guard->mutex);
        m_record.held = m_record.written = ByteRanges();
        if (!m_record.write(m_fd))
            return; // without a record nobody can continue it: it needs no name
    }
    if (!placeOpenFile(m_fd, visible, false)) {
        const std::lock_guard lock(m_guard->mutex);
        ResumeRecord::erase(m_fd);
        return;
    }
    m_temporary = visible;
    m_keepable = true;
    m_noted = 0; // what it holds is noted at the next write
}

// Takes over the part file `fd` opened at `visible` when it is one of ours and nobody else
// holds it; false otherwise, with `fd` closed.
bool PartFile::continueVisible(int fd, const QByteArray &visible, const QByteArray &url)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        m_failure = DownloadFailure::BeingDownloadedElsewhere;
        return false;
    }
    const std::optional<ResumeRecord> earlier = ResumeRecord::read(fd);
    if (!earlier || !namesFile(visible, fd)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_temporary = visible;
    m_record.url = url;
    if (withoutUserInfo(earlier->url) == url && !earlier->validator.isEmpty()) {
        m_record = *earlier;
        m_record.url = url;
        // After a crash of the process the system still has what it wrote; nothing beyond
        // the file's end is there.
        for (const ByteRange &range : earlier->written.ranges())
            m_record.held.add(range);
        m_record.held.remove({qint64(status.st_size), std::numeric_limits<qint64>::max()});
        m_record.written = m_record.held;
    }
    m_held = m_record.held;
    // Whatever lies after the last byte held is no data of the file.
    const qint64 end = m_held.isEmpty() ? 0 : m_held.ranges().back().end;
    if (::ftruncate(m_fd, end) != 0) {
        fail(errno);
        return true;
    }
    m_keepable = m_record.write(m_fd);
    return true;
}

bool PartFile::restart()
{
    if (m_fd < 0)
        return false;
    {
        // The record stops claiming the old bytes before they go.
        const std::lock_guard lock(m_guard->mutex);
        ++m_guard->generation;
        m_guard->claim.reset();
        if (m_keepable) {
            ResumeRecord::writeHeld(m_fd, {});
            ResumeRecord::writeWritten(m_fd, {});
        }
    }
    m_held = ByteRanges();
    m_pending.clear();
    m_unflushed = m_noted = 0;
    m_flushed = false;
    if (::ftruncate(m_fd, 0) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool PartFile::reserve(qint64 total)
{
    if (m_fd < 0)
        return false;
    if (total <= 0 || ::fallocate(m_fd, 0, 0, total) == 0)
        return true;
    const int error = errno;
    // A file system that cannot reserve room (or not this way) makes it as the data comes.
    if (error == EOPNOTSUPP || error == ENOSYS || error == EINVAL)
        return true;
    fail(error);
    return false;
}

void PartFile::recordVersion(const QByteArray &validator, qint64 total)
{
    const std::lock_guard lock(m_guard->mutex);
    m_record.validator = validator;
    m_record.total = total;
    // Nothing of this version is flushed yet.
    m_record.held = ByteRanges();
    m_record.written = m_held;
    if (m_keepable)
        m_record.write(m_fd);
}

void PartFile::keep()
{
    if (m_fd < 0)
        return;
    if (!m_record.validator.isEmpty() && size() > 0)
        nameNow();
    if (!m_keepable || m_record.validator.isEmpty() || size() == 0 || ::fdatasync(m_fd) != 0) {
        discard();
        return;
    }
    {
        const std::lock_guard lock(m_guard->mutex);
        ResumeRecord::writeHeld(m_fd, m_held);
        ResumeRecord::writeWritten(m_fd, m_held);
    }
    m_temporary.clear();
    close();
}

bool PartFile::write(qint64 offset, const char *data, std::size_t count)
{
    if (m_fd < 0)
        return false;
    if (m_temporary.isEmpty() && offset == m_pendingAt + m_pending.size() &&
        m_pending.size() + qsizetype(count) <= PendingLimit) {
        if (m_pending.isEmpty())
            m_pendingAt = offset;
        m_pending.append(data, qsizetype(count));
        m_held.add({offset, offset + qint64(count)});
        m_flushed = false;
        return true;
    }
    if (!writePending() || !writeNow(offset, data, count))
        return false;
    if (size() >= NameAt)
        nameNow();
    noteWritten();
    startWriteback();
    return m_fd >= 0;
}

bool PartFile::writeNow(qint64 offset, const char *data, std::size_t count)
{
    while (count > 0 && m_fd >= 0) {
        const ssize_t written = ::pwrite(m_fd, data, count, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(written < 0 ? errno : ENOSPC);
            return false;
        }
        m_held.add({offset, offset + written});
        data += written;
        count -= std::size_t(written);
        offset += written;
        m_unflushed += written;
        m_flushed = false;
    }
    return m_fd >= 0;
}

bool PartFile::writePending()
{
    if (m_pending.isEmpty())
        return m_fd >= 0;
    const QByteArray pending = std::exchange(m_pending, {});
    return writeNow(m_pendingAt, pending.constData(), std::size_t(pending.size()));
}

// What a crash of the process would leave, noted now and then: without it, a part file of a
// few megabytes would start over after a kill, having never reached a flushed step.
void PartFile::noteWritten()
{
    if (!m_keepable || m_fd < 0 || size() - m_noted < NoteStep)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - m_notedAt < NoteInterval)
        return;
    m_notedAt = now;
    m_noted = size();
    const std::lock_guard lock(m_guard->mutex);
    ResumeRecord::writeWritten(m_fd, m_held);
}

// The final flush must wait for every byte to reach the disk. Starting the disk's work while
// the data still arrives lets the two overlap, instead of adding the whole write-out of a
// large file after its transfer. Each step also makes what was written by then durable, with
// the allocation of its blocks (ranges written out of order, or into reserved room, need
// that before a power cut can be trusted to keep them), and only then records it as held:
// a part file that a crash or a power cut stops is continued from it.
void PartFile::startWriteback()
{
#ifdef __linux__
    if (m_fd < 0 || m_unflushed < WritebackStep)
        return;
    m_unflushed = 0;
    {
        const std::lock_guard lock(m_guard->mutex);
        m_guard->claim.reset();
        if (m_keepable)
            m_guard->claim = m_held;
        if (std::exchange(m_guard->confirming, true))
            return; // the confirmation that waits takes the newer claim
    }
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        const std::lock_guard lock(m_guard->mutex);
        m_guard->confirming = false;
        return;
    }
    const auto confirm = [fd, guard = m_guard] {
        std::optional<ByteRanges> claim;
        unsigned generation = 0;
        {
            const std::lock_guard lock(guard->mutex);
            claim = std::exchange(guard->claim, std::nullopt);
            generation = guard->generation;
            guard->confirming = false;
        }
        ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        if (claim && ::fdatasync(fd) == 0) {
            const std::lock_guard lock(guard->mutex);
            if (guard->generation == generation)
                ResumeRecord::writeHeld(fd, *claim);
        }
        ::close(fd);
    };
    if (m_defer) {
        m_deferred = true;
        m_defer(confirm);
    } else {
        confirm();
    }
#endif
}

bool PartFile::flush()
{
    if (!writePending())
        return false;
    if (!m_flushed && ::fdatasync(m_fd) != 0) {
        fail(errno);
        return false;
    }
    m_flushed = true;
    return true;
}

void PartFile::startFlush()
{
#ifdef __linux__
    if (writePending() && !m_flushed)
        ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool PartFile::commit(const QByteArray &origin, bool replace, bool syncDirectory)
{
    if (!flush())
        return false;
    if (!m_temporary.isEmpty() && !namesFile(m_temporary, m_fd)) {
        // Whatever has the name now is somebody else's.
        m_temporary.clear();
        close();
        m_failure = DownloadFailure::PartFileReplaced;
        return false;
    }
    if (m_keepable) {
        const std::lock_guard lock(m_guard->mutex);
        ResumeRecord::erase(m_fd);
    }
    // The freedesktop convention that browsers follow; a file system without extended
    // attributes simply keeps none. The data is on the disk already; the attributes reach it
    // with the directory's sync, or later.
    if (!origin.isEmpty())
        ::fsetxattr(m_fd, "user.xdg.origin.url", origin.constData(), size_t(origin.size()), 0);
    if (!place(replace)) {
        const int error = errno;
        if (!replace && error == EEXIST) {
            m_failure = DownloadFailure::TargetTaken;
            return false;
        }
        fail(error);
        return false;
    }
    if (!m_temporary.isEmpty() && namesFile(m_temporary, m_fd))
        ::unlink(m_temporary.constData());
    m_temporary.clear();
    close();
    if (syncDirectory)
        quorrin::syncDirectory(directoryOf(m_target));
    return true;
}

// The file that was written goes to the target, not whatever its name shows by now.
bool PartFile::place(bool replace)
{
    if (canNameOpenFiles())
        return placeOpenFile(m_fd, m_target, replace);
    return placeFile(m_temporary, m_target, replace);
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

// The name goes while the file is still locked: nobody can take the file over in between.
void PartFile::discard()
{
    if (!m_temporary.isEmpty() && m_fd >= 0 && namesFile(m_temporary, m_fd))
        ::unlink(m_temporary.constData());
    m_temporary.clear();
    close();
}

void PartFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace quorrin
