#pragma once

#include "result.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace quorrin::downloader {

// Where one queued entry is written, as the batch run needs it before the transfer starts.
struct DownloadTarget {
    // The stored path, or the numbered one chosen when something stands at it.
    QString path;
    // The causes to report for the entry, in the order they arose.
    QStringList causes;
    // False when the entry gets no transfer: its path is refused by the system's limits.
    bool usable = true;
};

// True when anything (a file, a directory, a link) stands at `path`; under a plain file, nothing.
Result<bool> testExistence(const QString &path);

// The directories up to the last "/" of `path`, parents first, the root left out.
QStringList directoryPrefixes(const QString &path);
// The last of directoryPrefixes(path), the directory that holds it, as a view into `path`;
// empty when there is none.
QStringView holdingDirectory(QStringView path);

// Makes the missing directories up to the last "/" of `path`, parents first; stops at a failure.
Result<> CreatePathDirectories(const QString &path);

// `path` with "_<number>" before the extension of its file name: "DL/a.zip" → "DL/a_1.zip".
QString numberedPath(const QString &path, int number);

// Answers whether something stands at a path; the file system's own by default.
using ExistenceTest = std::function<Result<bool>(const QString &)>;

// The first numbered path free of `path`; a failed test takes its candidate, with the cause.
DownloadTarget findFreeName(const QString &path, const ExistenceTest &exists = testExistence);

// Finds a free numbered path for a path found taken.
using FreeNameSearch = std::function<DownloadTarget(const QString &)>;

// The target of a stored path: limits checked, directories made, a free name chosen if taken
// (as `exists` tells, by `freeName`; findFreeName() by default).
DownloadTarget prepareTarget(const QString &storedPath, const ExistenceTest &exists = testExistence,
                             const FreeNameSearch &freeName = {});

// The first numbered path free of the stored one, for a name taken while the transfer runs.
QString nextFreePath(const QString &storedPath);

// Whether the directory that holds `path` exists, so that nothing needs making for it.
bool holdingDirectoryExists(const QString &path);

} // namespace quorrin::downloader
