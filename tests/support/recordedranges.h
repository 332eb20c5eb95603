#pragma once

#include "byteranges.h"
#include "resumerecord.h"

#include <QFile>

#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace quorrin::test {

// What a part file's record names as held: flushed, or written by a process of this start of
// the system.
inline ByteRanges recordedOf(const QString &partPath)
{
    const int fd = ::open(QFile::encodeName(partPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const std::optional<ResumeRecord> record = ResumeRecord::read(fd);
    ::close(fd);
    if (!record)
        return {};
    ByteRanges held = record->held;
    for (const ByteRange &range : record->written.ranges())
        held.add(range);
    return held;
}

} // namespace quorrin::test
