#pragma once

#include "byteranges.h"

#include <QByteArray>

#include <optional>

namespace quorrin {

// What a visible part file carries, as extended attributes of its own, so that a later run
// can continue it safely: the address it comes from, the server's word for the file's
// version (ETag or Last-Modified), the file's size, which of its bytes are known to be on
// disk, and which a crash of the process would leave.
struct ResumeRecord {
    QByteArray url;
    QByteArray validator;
    qint64 total = -1;
    // Bytes flushed to the disk: a power cut keeps them.
    ByteRanges held;
    // Bytes written, that a crash of the process does not lose (the system still has them),
    // though a power cut may; only what this start of the system wrote counts.
    ByteRanges written;

    // The record of the open file `fd`; nothing when it has none (not a part file of ours,
    // or a file system without extended attributes). A record of bytes held written as one
    // count, from the file's first byte, reads as that one range.
    static std::optional<ResumeRecord> read(int fd);
    // False when the file system keeps no extended attributes.
    bool write(int fd) const;
    static void writeHeld(int fd, const ByteRanges &held);
    static void writeWritten(int fd, const ByteRanges &written);
    static void erase(int fd);
};

// The longest text of ranges the record keeps; the attributes are read with a buffer of 4 KiB,
// and the note of what was written carries the system's boot id before its ranges. A set of
// ranges too long for it is recorded without its smallest ranges: a record may claim fewer
// bytes than the file holds, never more.
constexpr qsizetype MaxRecordedRangesText = 3900;

} // namespace quorrin
