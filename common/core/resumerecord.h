#pragma once

#include <QByteArray>

#include <optional>

namespace quorrin {

// What a visible part file carries, as extended attributes of its own, so that a later run
// can continue it safely: the address it comes from, the server's word for the file's
// version (ETag or Last-Modified), the file's size, and how many of its bytes are known to be
// on disk.
struct ResumeRecord {
    QByteArray url;
    QByteArray validator;
    qint64 total = -1;
    qint64 held = 0;

    // The record of the open file `fd`; nothing when it has none (not a part file of ours,
    // or a file system without extended attributes).
    static std::optional<ResumeRecord> read(int fd);
    // False when the file system keeps no extended attributes.
    bool write(int fd) const;
    static void writeHeld(int fd, qint64 held);
    static void erase(int fd);
};

} // namespace quorrin
