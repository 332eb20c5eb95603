#pragma once

#include <QByteArray>

#include <optional>

namespace quorrin {

// What a visible part file carries, as extended attributes of its own, so that a later run
// can continue it safely: the address it comes from, the server's word for the file's
// version (ETag or Last-Modified), the file's size, how many of its bytes are known to be on
// disk, and how many a crash of the process would leave.
struct ResumeRecord {
    QByteArray url;
    QByteArray validator;
    qint64 total = -1;
    qint64 held = 0;
    // Bytes written, that a crash of the process does not lose (the system still has them),
    // though a power cut may; only what this start of the system wrote counts.
    qint64 written = 0;

    // The record of the open file `fd`; nothing when it has none (not a part file of ours,
    // or a file system without extended attributes).
    static std::optional<ResumeRecord> read(int fd);
    // False when the file system keeps no extended attributes.
    bool write(int fd) const;
    static void writeHeld(int fd, qint64 held);
    static void writeWritten(int fd, qint64 written);
    static void erase(int fd);
};

} // namespace quorrin
