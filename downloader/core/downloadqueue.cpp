#include "downloadqueue.h"

#include "entrynaming.h"

#include <algorithm>

namespace quorrin::downloader {

DownloadQueue::DownloadQueue()
    : m_rows{QueuePlaceholder}
{
}

bool DownloadQueue::isEmpty() const
{
    return m_rows.value(0) == QueuePlaceholder;
}

bool DownloadQueue::isFull() const
{
    return !isEmpty() && m_rows.size() >= MaxQueueEntries;
}

void DownloadQueue::setEditedPath(const QString &path)
{
    if (curIndex >= 0 && curIndex < arrPath.size())
        arrPath[curIndex] = path;
}

void DownloadQueue::ResetParameters()
{
    m_rows = {QueuePlaceholder};
}

void DownloadQueue::StoreEntry(int index, const QString &page, const QString &path)
{
    arrPage.resize(index + 1);
    arrPath.resize(index + 1);
    arrPage[index] = page;
    arrPath[index] = path;
}

bool DownloadQueue::append(const QString &name, const QString &page, const QString &path)
{
    if (isFull())
        return false;
    if (isEmpty())
        m_rows.clear();
    m_rows.append(name);
    curIndex = m_rows.size() - 1;
    StoreEntry(curIndex, page, path);
    return true;
}

void DownloadQueue::reserve(qsizetype more)
{
    const qsizetype entries =
        std::min<qsizetype>((isEmpty() ? 0 : m_rows.size()) + more, MaxQueueEntries);
    m_rows.reserve(entries);
    arrPage.reserve(entries);
    arrPath.reserve(entries);
}

void DownloadQueue::removeAt(int row)
{
    if (isEmpty() || row < 0 || row >= m_rows.size())
        return;
    m_rows.removeAt(row);
    if (row < arrPage.size())
        arrPage.removeAt(row);
    if (row < arrPath.size())
        arrPath.removeAt(row);
    if (m_rows.isEmpty())
        m_rows.append(QueuePlaceholder);
}

} // namespace quorrin::downloader
