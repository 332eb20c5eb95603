#include "elidinglist.h"

#include "elidingrows.h"

#include <QEvent>

namespace quorrin::downloader {

ElidingList::ElidingList(QWidget *parent)
    : QListWidget(parent)
{
    setUpElidingRows(this);
}

bool ElidingList::isElided(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    return showsElided(this, option, indexFromItem(item(row)));
}

void ElidingList::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        fitIconsToText(this);
    QListWidget::changeEvent(event);
}

} // namespace quorrin::downloader
