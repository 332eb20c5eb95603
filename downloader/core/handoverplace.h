#pragma once

#include "result.h"

#include <QString>

namespace quorrin::downloader {

// Where the window of one user and one data directory listens for the addresses that later
// starts hand it, and the lock that makes one start at a time that window.
struct HandOverPlace {
    QString socketPath;
    QString lockPath;
};

// The place in `runtimeDirectory` (the user's XDG_RUNTIME_DIR) for the window of
// `dataDirectory`: named after that directory, so that copies of Quorrin with data of their
// own each have their window. A failure when the runtime directory is missing, not a
// directory, not the user's own or open to others, or when the socket's path would be too long.
Result<HandOverPlace> handOverPlace(const QString &runtimeDirectory, const QString &dataDirectory);

// The user's runtime directory as Qt finds it (made by Qt when XDG_RUNTIME_DIR is not set);
// empty when there is none. Needs no application object.
QString userRuntimeDirectory();

} // namespace quorrin::downloader
