#pragma once

#include <QString>
#include <QStringList>

namespace quorrin::downloader {

// The queue of downloads: for each entry its name (the queue list's row), its address and its
// storage path, and the entry the text boxes edit. While the queue is empty its only row is
// the placeholder.
class DownloadQueue {
public:
    DownloadQueue();

    // The queue list's rows: the entries' names, or the placeholder alone.
    const QStringList &rows() const { return m_rows; }
    // True while the first row reads as the placeholder, an entry named like it included.
    bool isEmpty() const;
    // True when one more entry would pass MaxQueueEntries.
    bool isFull() const;

    const QStringList &pages() const { return arrPage; }
    const QStringList &paths() const { return arrPath; }
    QString page(int index) const { return arrPage.value(index); }
    QString path(int index) const { return arrPath.value(index); }

    // The entry the text boxes edit.
    int editedEntry() const { return curIndex; }
    void setEditedEntry(int index) { curIndex = index; }
    // Gives the edited entry a new path; nothing when no entry is edited.
    void setEditedPath(const QString &path);

    // Back to the placeholder alone; the addresses and paths are overwritten by the next entry.
    void ResetParameters();
    // Makes both arrays end at `index` and stores the address and path there.
    void StoreEntry(int index, const QString &page, const QString &path);
    // Adds an entry after the last one and edits it; false, adding nothing, when full.
    bool append(const QString &name, const QString &page, const QString &path);
    // Makes room for `more` entries at once, so that a long paste grows the arrays once.
    void reserve(qsizetype more);
    // Removes the entry at `row`; the placeholder comes back after the last one.
    void removeAt(int row);

private:
    QStringList m_rows;
    QStringList arrPage;
    QStringList arrPath;
    int curIndex = 0;
};

} // namespace quorrin::downloader
