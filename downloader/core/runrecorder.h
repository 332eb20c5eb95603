#pragma once

#include "interruptedrun.h"

#include <QList>
#include <QString>

#include <memory>

namespace quorrin {
class DiskQueue;
} // namespace quorrin

namespace quorrin::downloader {

// Keeps the record of the run under way on disk, so that an interrupted run comes back at the
// next start, without the window ever waiting for the disk: the record is written on a disk
// queue, and while one write is under way only the newest of the entries given meanwhile is
// written next. Does nothing where another Quorrin owns the record.
class RunRecorder {
public:
    explicit RunRecorder(const QString &dataDirectory);
    ~RunRecorder();
    RunRecorder(const RunRecorder &) = delete;
    RunRecorder &operator=(const RunRecorder &) = delete;

    bool owned() const;
    // The entries an interrupted run left; a record that cannot be used is set aside.
    QList<InterruptedEntry> interruptedEntries() const;
    // The entries of the run from `from` on: those that have not finished, in queue order;
    // none removes the record.
    void save(QList<InterruptedEntry> entries, qsizetype from = 0);
    void clear() { save({}); }

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    std::shared_ptr<DiskQueue> m_disk;
};

} // namespace quorrin::downloader
