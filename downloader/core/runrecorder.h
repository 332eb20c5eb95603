#pragma once

#include "interruptedrun.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace quorrin {
class DiskQueue;
} // namespace quorrin

namespace quorrin::downloader {

// Keeps the record of the run under way on disk, so that an interrupted run comes back at the
// next start, without the window ever waiting for the disk. The run's entries are written once,
// on a disk queue, and then only what happens to them is appended: an entry added, an entry
// that ended. Does nothing where another Quorrin owns the record.
class RunRecorder {
public:
    // Tells, from any thread, that the entry at an index of the run has ended; a call that
    // comes after the run's record is gone, or was begun anew, is ignored.
    using EndMark = std::function<void(int index)>;

    explicit RunRecorder(const QString &dataDirectory);
    ~RunRecorder();
    RunRecorder(const RunRecorder &) = delete;
    RunRecorder &operator=(const RunRecorder &) = delete;

    bool owned() const;
    // The entries an interrupted run left; a record that cannot be used is set aside.
    QList<InterruptedEntry> interruptedEntries() const;
    // Records a new run of `entries`, none ended yet. The mark outlives the recorder safely.
    EndMark begin(const QList<InterruptedEntry> &entries);
    // Adds entries at the end of the run under way.
    void extend(const QList<InterruptedEntry> &entries);
    // Removes the record: the run is over, or is not to be continued.
    void clear();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::shared_ptr<DiskQueue> m_disk;
};

} // namespace quorrin::downloader
