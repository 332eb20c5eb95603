#pragma once

#include "pathexistence.h"

#include <QString>

#include <functional>

namespace quorrin::downloader {

// `path` with "_" and `number` put before the extension of its file name, or at the end of a
// name without a dot: "DL/a.zip" → "DL/a_1.zip", "my.dir/readme" → "my.dir/readme_1".
QString numberedPath(const QString &path, int number);

// The first numbered path that nothing occupies, trying 1, 2, … in turn. When a test fails,
// the candidate under test is taken and the failure's cause returned with it.
struct FreeName {
    QString path;
    QString failure;
};
using ExistenceTest = std::function<Existence(const QString &)>;
FreeName findFreeName(const QString &path, const ExistenceTest &exists = testExistence);

} // namespace quorrin::downloader
