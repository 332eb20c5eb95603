#pragma once

// Replacing, removing and setting aside a small file so that a crash or a power cut at any
// moment leaves either what stood there before or the whole new content, never a part of it.
// Each call is synchronous and touches no shared state: any thread may make it.

#include "result.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace quorrin::downloader {

// Writes all of `contents` to `fd`: 0 once written, else the errno that stopped it.
int writeAll(int fd, const QByteArray &contents);

// Writes `contents` to a new file beside `path` (".<name>.XXXXXX", created exclusively and
// readable by its owner alone, then given `mode`), flushes it to the disk, renames it onto
// `path` and syncs the directory. A symbolic link at `path` is replaced, not followed. On
// failure `path` keeps what it held and the new file is gone.
Result<> replaceFileDurably(const QString &path, const QByteArray &contents, int mode = 0600);
// The same, with the contents written by `write`: 0 once it wrote them all to the descriptor
// it is given, else the errno that stopped it.
using ContentsWriter = std::function<int(int fd)>;
Result<> replaceFileDurably(const QString &path, const ContentsWriter &write, int mode = 0600);

// Removes `path` and syncs its directory; a path where nothing stands is success.
Result<> removeFileDurably(const QString &path);

// Renames what stands at `path` to "<path>.<suffix>-<n>" with the first n from 1 under which
// nothing stands yet, never replacing anything; the new path.
Result<QString> setFileAside(const QString &path, const QString &suffix);

// Removes the new files that replaceFileDurably() left for `path` when the process ended
// before their rename. Only for a caller that knows no other write to `path` is under way.
void removeLeftoverTemporaries(const QString &path);

} // namespace quorrin::downloader
