#pragma once

#include "result.h"

#include <QString>
#include <QStringList>

namespace quorrin::downloader {

// The directories on the way to the last "/" of `path`, parents first: "/srv/a/b/f.zip" gives
// "/srv", "/srv/a", "/srv/a/b". The root, the first prefix of an absolute path, is left out:
// it always exists. A path ending in "/" names a directory and includes it.
QStringList directoryPrefixes(const QString &path);

// Makes every missing directory on the way to the last "/" of `path`, parents first, and stops
// at the first failure, which carries its cause.
Result<> CreatePathDirectories(const QString &path);

} // namespace quorrin::downloader
