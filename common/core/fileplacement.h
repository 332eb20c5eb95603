#pragma once

// Putting a finished file at its path in one rename, so that the path shows either what stood
// there before or the whole new file, never a part of it.

#include <QByteArray>

namespace quorrin {

// Renames `from` onto `to`. With `replace`, what stood at `to` goes; without, only where
// nothing stands yet (with a hard link where the file system cannot rename so), and errno is
// EEXIST when something does. False, with errno set, when nothing was placed.
bool placeFile(const QByteArray &from, const QByteArray &to, bool replace);

// Makes a rename in `directory` durable sooner.
void syncDirectory(const QByteArray &directory);

} // namespace quorrin
