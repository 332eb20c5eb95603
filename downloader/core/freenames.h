#pragma once

#include "downloadtarget.h"

#include <QHash>
#include <QString>

namespace quorrin::downloader {

// Free numbered names for many entries in a row. For each path it remembers the numbers it
// has found taken, so that the next search for the same path starts after them: the
// thousandth copy of a name costs what the first did. A name below those, freed by someone
// else meanwhile, is not offered again.
class FreeNames {
public:
    explicit FreeNames(ExistenceTest exists = testExistence)
        : m_exists(std::move(exists))
    {
    }

    // The first numbered path free of `path`, as findFreeName() finds it.
    DownloadTarget find(const QString &path);

private:
    ExistenceTest m_exists;
    QHash<QString, int> m_taken; // a path, and how many of its numbers were found taken
};

} // namespace quorrin::downloader
