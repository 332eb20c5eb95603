#include "queuelist.h"

#include <QSignalBlocker>

namespace quorrin::downloader {

void QueueList::focusInEvent(QFocusEvent *event)
{
    if (currentIndex().isValid()) {
        ElidingList::focusInEvent(event);
        return;
    }
    const QSignalBlocker blocker(this);
    ElidingList::focusInEvent(event);
    selectionModel()->clearCurrentIndex();
}

} // namespace quorrin::downloader
