#pragma once

#include "result.h"

#include <QString>

namespace quorrin::downloader {

// Why `path` cannot be written on this system, told before anything is made or sent: its file
// name, or the name of a directory still to be made on the way, is longer than the file system
// of the nearest existing directory allows (NAME_MAX, in bytes), or the whole path is longer
// than the system allows (PATH_MAX). A failure carries its French cause for the report.
// A caller that knows the directory holding `path` exists says so, and saves the look for it.
Result<> checkPathLimits(const QString &path, bool holdingDirectoryExists = false);

} // namespace quorrin::downloader
