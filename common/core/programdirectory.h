#pragma once

#include <QString>

namespace quorrin {

// The directory that holds the running executable, without a trailing separator
// (except at the root). Both programs find each other there. Also known before the
// application object exists.
QString programDirectory();

// The directory where a program in `programDirectory` keeps what it writes (downloads, the
// check file, the installer): that directory when the user may write to it, as in a portable
// unpacked copy or the build tree; otherwise the user's own data directory for Quorrin, made
// on first use. Stands in for a program directory that a system-wide install makes read-only.
QString dataDirectory(const QString &programDirectory);

} // namespace quorrin
