#pragma once

// Putting a finished file at its path in one step, so that the path shows either what stood
// there before or the whole new file, never a part of it; and always the very file that was
// written, whatever happened meanwhile to the name it was written under.

#include <QByteArray>

namespace quorrin {

// Whether the open file `fd` can be given a name later (the kernel's /proc shows its
// descriptors): then it may be written without one, and named by placeOpenFile().
bool canNameOpenFiles();

// Gives the open file `fd` the path `to`. With `replace`, what stood at `to` goes; without,
// errno is EEXIST when something stands there. False, with errno set, when nothing was placed.
bool placeOpenFile(int fd, const QByteArray &to, bool replace);

// Renames `from` onto `to`, for a system where placeOpenFile() cannot be used. With `replace`,
// what stood at `to` goes; without, only where nothing stands yet (with a hard link where the
// file system cannot rename so), and errno is EEXIST when something does.
bool placeFile(const QByteArray &from, const QByteArray &to, bool replace);

// Whether `path` still names the open file `fd` (not a link to it, not another file put at
// that name).
bool namesFile(const QByteArray &path, int fd);

// Makes a rename in `directory` durable. A file system that cannot sync a directory (EINVAL)
// gives no better way, so that is no failure; false, with errno set, otherwise.
bool syncDirectory(const QByteArray &directory);

// The directory of `path`: "." for a bare name, "/" for a name at the root.
QByteArray directoryOf(const QByteArray &path);

} // namespace quorrin
