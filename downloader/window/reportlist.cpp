#include "reportlist.h"

#include "elidingrows.h"

#include <QEvent>

namespace quorrin::downloader {

ReportList::ReportList(QWidget *parent)
    : QListView(parent)
{
    setUpElidingRows(this);
}

bool ReportList::isElided(int row) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    return showsElided(this, option, model()->index(row, 0));
}

void ReportList::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        fitIconsToText(this);
    QListView::changeEvent(event);
}

} // namespace quorrin::downloader
