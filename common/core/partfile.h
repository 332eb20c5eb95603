#pragma once

#include "byteranges.h"
#include "downloadfailure.h"
#include "resumerecord.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace quorrin {

// The file a download writes into until it is complete, beside its target; only commit() puts
// it at the target's path, in one step. Until then the target is left alone; a part file that
// is neither committed nor kept is removed when destroyed.
//
// The slow part of its upkeep, waiting for the disk to confirm what it wrote, goes to
// `defer` (run at once when none is given), in the order it was asked for.
class PartFile {
public:
    using Defer = std::function<void(std::function<void()>)>;
    // Whether the file may replace what stands at its target. A target that is never replaced
    // is not looked at: the file lands beside whatever stands there.
    enum class Target { MayReplace, NeverReplace };
    // Whether a visible part file of an earlier transfer may be there to continue; where the
    // caller knows there is none, none is looked for.
    enum class Earlier { MayBeThere, NoneThere };

    // A new file without a name, or where the system cannot name one later, a uniquely
    // named hidden one (".<name>.XXXXXX.part"); when neither is possible, isOpen() is false
    // and failure() says why. The target's path is used exactly as given: no pattern
    // characters.
    explicit PartFile(const QString &target, Defer defer = {}, Target use = Target::MayReplace);
    // The visible part file "<target>.part", for a download of `url` that a later run may
    // continue: one of ours for `url` (compared without user name and password) goes on from
    // the bytes its record says are on disk, one of ours for another address starts over, and
    // a file of that name that is not ours is left alone (the data then goes to a hidden file,
    // as above). It is locked while open, and has its lock and its record before anyone can
    // find it: another process that downloads into it fails with BeingDownloadedElsewhere.
    // A new one gets its name only once it holds a few tens of kilobytes, or when keep() keeps
    // it: until then nobody can find it. The record never holds the address's user name and
    // password. Of an earlier run's file, only the bytes its record names are held: the bytes
    // flushed, and after a crash of the process (not of the system) those written.
    PartFile(const QString &target, const QByteArray &url, Defer defer = {},
             Target use = Target::MayReplace, Earlier earlier = Earlier::MayBeThere);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    // Removes the visible part file that a download of `url` into `target` kept, when it is
    // one of ours for that address that nobody holds; anything else there is left alone.
    static void removeKept(const QString &target, const QByteArray &url);
    PartFile &operator=(const PartFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    DownloadFailure failure() const { return m_failure; }
    // How many bytes it holds, and which: written, wherever they lie, and not dropped since.
    qint64 size() const { return m_held.bytes(); }
    const ByteRanges &held() const { return m_held; }
    // A path that reads exactly the data written, for a check before commit(); empty when
    // the disk refused what waited in memory (failure() says why).
    QString temporaryPath();

    // What an earlier run recorded of the file whose bytes this holds (validator and total
    // size); empty for a new part file.
    const ResumeRecord &record() const { return m_record; }
    // Records the server's version of the file, so that a later run asks for the same one.
    void recordVersion(const QByteArray &validator, qint64 total);
    // Closes a visible part file that a later run can continue, its data flushed and its
    // record up to date; any other is removed.
    void keep();

    // Empties the file, for data that starts over from its first byte.
    bool restart();
    // Gives the file its whole size of `total` bytes on the disk before its data arrives, where
    // the file system can: a disk without room for it fails now (failure() is then DiskFull),
    // not when the file is nearly there, and ranges written out of order are not scattered.
    // The file's size becomes `total`; what it holds is still only what was written.
    bool reserve(qint64 total);
    // Writes all of `data` at `offset`; false (and failure() set) when the disk refuses it.
    // The first few kilobytes of a file without a name may wait in memory until the file is
    // flushed, named or read: a refusal of those is told there.
    bool write(qint64 offset, const char *data, std::size_t count);
    // Waits until the data written is on the disk: the long part of commit(), which can be
    // done before it.
    bool flush();
    // Asks the disk to start writing what the file holds, without waiting: a flush() later
    // then finds it written.
    void startFlush();
    // True while nothing of the file's upkeep waits on its disk queue: a file that never
    // reached a write-back step.
    bool defersNothing() const { return !m_deferred; }
    // Puts the file that was written at the target, its data flushed first, replacing what
    // was there; a non-empty `origin` is recorded as the address the file came from, where
    // the file system keeps extended attributes. False, with failure() set and the target
    // untouched, when any step fails; a part file that another process moved, removed or
    // replaced fails as PartFileReplaced, and what took its name is left alone. Without
    // `replace`, a target that something took meanwhile is left alone: failure() is then
    // TargetTaken, and the data stays for retarget() and another commit().
    // With `syncDirectory` false, the caller syncs the target's directory itself, once for
    // several files.
    bool commit(const QByteArray &origin = {}, bool replace = true, bool syncDirectory = true);
    void retarget(const QString &target);

private:
    struct RecordGuard;

    bool checkTarget(int &mode, Target use);
    void createHidden(const QByteArray &directory, const QByteArray &name, int mode);
    bool openVisible(const QByteArray &url, int mode, Earlier earlier);
    bool createVisible(const QByteArray &visible, const QByteArray &url, int mode);
    void nameNow();
    bool writeNow(qint64 offset, const char *data, std::size_t count);
    bool writePending();
    bool continueVisible(int fd, const QByteArray &visible, const QByteArray &url);
    bool place(bool replace);
    void startWriteback();
    void noteWritten();
    void fail(int error);
    void discard();
    void close();

    QByteArray m_target;
    QByteArray m_temporary;    // its name; empty for a file without one
    QByteArray m_visibleLater; // the visible name a new file gets once it holds enough
    int m_fd = -1;
    ByteRanges m_held;
    QByteArray m_pending; // bytes held that wait in memory, from m_pendingAt on
    qint64 m_pendingAt = 0;
    qint64 m_unflushed = 0; // bytes written since the disk was last asked to write them
    qint64 m_noted = 0;     // how many bytes it held when what it held was last noted
    std::chrono::steady_clock::time_point m_notedAt;
    bool m_flushed = false;
    bool m_deferred = false; // some of its upkeep went to `m_defer`
    ResumeRecord m_record;
    bool m_keepable = false; // a visible part file with its record
    DownloadFailure m_failure = DownloadFailure::None;
    Defer m_defer;
    std::shared_ptr<RecordGuard> m_guard;
};

} // namespace quorrin
