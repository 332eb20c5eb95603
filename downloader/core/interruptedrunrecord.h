#pragma once

#include "appendfile.h"
#include "filelock.h"
#include "interruptedrun.h"
#include "result.h"

#include <QList>
#include <QString>

#include <memory>

namespace quorrin::downloader {

// The record's files in Quorrin's data directory (the one that holds LastDateCheckUpdate.txt).
inline const QString InterruptedRunFileName = QStringLiteral("InterruptedDownloads.json");
// Beside the record, which each write replaces by a rename and so cannot carry a lock itself.
inline const QString InterruptedRunLockName = QStringLiteral("InterruptedDownloads.lock");
// A record that cannot be used is renamed "InterruptedDownloads.json.bad-<n>".
inline const QString SetAsideSuffix = QStringLiteral("bad");

// The entries of the run under way that have not finished, kept on disk so that a run cut
// short by a close, a signal, a crash or a power cut comes back at the next start. The record
// belongs to the window that holds its lock: another one reads, writes and removes nothing.
//
// The lock is taken in the constructor and held for the object's life. The other calls are
// synchronous file operations that change no member: a worker thread may make them while the
// owner's thread goes on, one after another, with the object outliving them.
class InterruptedRunRecord {
public:
    explicit InterruptedRunRecord(const QString &dataDirectory);

    // False when another Quorrin owns the record, or when the lock file cannot be made (a
    // data directory that is read-only or gone): the program then goes on without a record.
    bool owned() const { return m_lock.owned(); }
    QString path() const { return m_path; }

    // The entries of an interrupted run, in queue order; none without the lock or without a
    // record. A record that cannot be read or holds no entries the queue can show is set aside
    // (renamed, never removed) and gives none. Also clears what an interrupted write left.
    QList<InterruptedEntry> read() const;
    // Replaces the record with `entries`, none of them ended: the old record or the new one is
    // on disk at any moment, whole. An empty list removes it. Readable and writable by its
    // user alone.
    Result<> write(const QList<InterruptedEntry> &entries) const;
    // The record, open to append log lines to (loggedEntry(), loggedEnd()); a crash may cut
    // the last one short, which the reader then ignores. Nothing without the lock.
    std::unique_ptr<AppendFile> openLog() const;
    // Removes the record, for a run that reached its last entry or a reset.
    Result<> remove() const;

private:
    QString m_path;
    FileLock m_lock;
};

} // namespace quorrin::downloader
