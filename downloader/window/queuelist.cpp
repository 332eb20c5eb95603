#include "queuelist.h"

#include <QSignalBlocker>

namespace quorrin::downloader {

void QueueList::focusInEvent(QFocusEvent *event)
{
    if (currentIndex().isValid()) {
        QListWidget::focusInEvent(event);
        return;
    }
    const QSignalBlocker blocker(this);
    QListWidget::focusInEvent(event);
    selectionModel()->clearCurrentIndex();
}

} // namespace quorrin::downloader
