#pragma once

#include <QString>

namespace quorrin::downloader {

// An exclusive lock on a file, taken without waiting when the object is made and held for its
// life, so that one process at a time owns what the lock guards. The lock file is made where
// there is none (readable and writable by its owner alone) and stays: removing it would let a
// second owner lock a new file of the same name while the first still holds the old one.
// Locks of two objects conflict, in one process too; a started program does not inherit it.
class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool owned() const { return m_fd >= 0; }
    // Whether another lock holds the file: the only reason to wait and try again.
    bool heldElsewhere() const { return m_heldElsewhere; }
    // Why the lock is not owned, in French: another owner, or a lock file that cannot be made.
    QString cause() const { return m_cause; }

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
    QString m_cause;
};

} // namespace quorrin::downloader
