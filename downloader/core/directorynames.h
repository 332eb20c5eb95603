#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

namespace quorrin::downloader {

// What a run knows of the names in the directories it writes to: those each directory held
// when the run first looked into it, read in one go, and those the run has taken since. A
// name in neither was free when the run looked, which spares the system one lookup for each
// entry of a long queue, where most names are free. Another program may take a name after
// that: the landing, which never replaces anything, then finds it taken and moves on to the
// next free one.
class DirectoryNames {
public:
    // False when nothing stood at `path` when its directory was read and the run has put
    // nothing there since; true when something may stand there, or its directory could not
    // be read.
    bool mayExist(const QString &path);
    // The run has put something at `path`.
    void take(const QString &path);

private:
    struct Directory {
        std::vector<std::size_t> found; // the hashes of its names when read, sorted
        // Open addressing over a power of two: a lookup among the tens of thousands a long
        // queue takes is one or two reads, where a node-based set divides and chases nodes.
        QSet<std::size_t> taken;
    };

    Directory *directoryOf(const QString &path, QStringView &name);
    Directory *remember(const QString &spelling, Directory *directory);

    // Each directory once, however its paths spell it.
    QHash<QString, std::shared_ptr<Directory>> m_bySpelling;
    QHash<QString, std::shared_ptr<Directory>> m_byCleanPath;
    QString m_lastSpelling;      // the directory looked at last, as its path spelt it
    Directory *m_last = nullptr; // and what the maps hold of it
};

} // namespace quorrin::downloader
