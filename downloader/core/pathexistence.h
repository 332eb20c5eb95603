#pragma once

#include "result.h"

#include <QString>

namespace quorrin::downloader {

// Whether something (a file, a directory, a link, anything) stands at a path. A failed test
// (no permission to look, a name too long, …) carries its cause for the report.
struct Existence {
    enum State { Absent, Present, Failed } state = Absent;
    QString cause;
};

Existence testExistence(const QString &path);

// Makes the directory `path`, whose parent exists.
Result<> makeDirectory(const QString &path);

} // namespace quorrin::downloader
