#pragma once

#include <QString>

namespace quorrin::bench {

// Writes a file of `size` bytes whose 8-byte words all differ, and differ from those of a
// file made with another `seed`, so that a misplaced block or a swapped file shows. A file
// of that size already at `path` is kept.
bool makePatternFile(const QString &path, qint64 size, quint32 seed = 0);

// Whether the two files hold the same bytes.
bool sameContent(const QString &first, const QString &second);

} // namespace quorrin::bench
