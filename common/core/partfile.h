#pragma once

#include "downloadfailure.h"
#include "resumerecord.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace quorrin {

// A new, uniquely named temporary file beside a target (".<name>.XXXXXX.part" in the target's
// directory), which only commit() puts at the target's path, in one rename. Until then the
// target is left alone; a part file that is not committed is removed when destroyed.
class PartFile {
public:
    // Creates the temporary file; when that is not possible, isOpen() is false and failure()
    // says why. The target's path is used exactly as given: no pattern characters.
    explicit PartFile(const QString &target);
    // The visible part file "<target>.part", for a download of `url` that a later run may
    // continue: one of ours for `url` goes on from the bytes its record says are on disk, one
    // of ours for another address starts over, and a file of that name that is not ours is
    // left alone (the data then goes to a hidden temporary file, as above). While it is open
    // it is locked: another process that downloads into it fails with
    // BeingDownloadedElsewhere.
    PartFile(const QString &target, const QByteArray &url);
    ~PartFile();
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    DownloadFailure failure() const { return m_failure; }
    // Bytes written so far.
    qint64 size() const { return m_size; }
    QString temporaryPath() const;

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
    // Appends all of `data`; false (and failure() set) when the disk refuses it.
    bool write(const char *data, std::size_t size);
    // Flushes the data to the disk and renames the part file onto the target, replacing what
    // was there. False, with failure() set and the target untouched, when any step fails.
    // A non-empty `origin` is recorded as the address the file came from, where the file
    // system keeps extended attributes. Without `replace`, a target that something took
    // meanwhile is left alone: failure() is then TargetTaken, and the data stays for
    // retarget() and another commit().
    bool commit(const QByteArray &origin = {}, bool replace = true);
    void retarget(const QString &target);

private:
    bool checkTarget(int &mode);
    bool create(const QByteArray &directory, const QByteArray &name, int mode);
    void startWriteback();
    void fail(int error);
    void discard();

    QByteArray m_target;
    QByteArray m_temporary;
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_writebackStart = 0;
    qint64 m_writtenBack = 0; // bytes the disk has been asked to write
    ResumeRecord m_record;
    bool m_keepable = false; // a visible part file with its record
    DownloadFailure m_failure = DownloadFailure::None;
};

} // namespace quorrin
