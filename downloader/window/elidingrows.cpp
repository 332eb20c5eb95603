#include "elidingrows.h"

#include <QApplication>
#include <QHelpEvent>
#include <QListView>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace quorrin::downloader {
namespace {

// Tells the whole text of an elided row.
class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip || !isElided(option, index))
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QString tip = index.data(Qt::DisplayRole).toString();
        if (const QString own = index.data(Qt::ToolTipRole).toString(); !own.isEmpty())
            tip += QLatin1Char('\n') + own;
        QToolTip::showText(event->globalPos(), tip, view, option.rect);
        return true;
    }

    // The text's room as the style lays the row out, less the margins it keeps either side.
    bool isElided(const QStyleOptionViewItem &option, const QModelIndex &index) const
    {
        QStyleOptionViewItem row = option;
        initStyleOption(&row, index);
        const QWidget *widget = row.widget;
        const QStyle *style = widget ? widget->style() : QApplication::style();
        const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &row, widget);
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        return row.fontMetrics.horizontalAdvance(row.text) > room.width() - 2 * margin;
    }
};

} // namespace

void setUpElidingRows(QListView *list)
{
    list->setItemDelegate(new RowDelegate(list));
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setTextElideMode(Qt::ElideMiddle);
    list->setWordWrap(false);
    // Rows of one line of text each: laying out a long list stays cheap.
    list->setUniformItemSizes(true);
    fitIconsToText(list);
}

bool showsElided(const QListView *list, QStyleOptionViewItem option, const QModelIndex &index)
{
    option.rect = list->visualRect(index);
    return static_cast<const RowDelegate *>(list->itemDelegate())->isElided(option, index);
}

// A row's icon is as tall as its text: rows with and without one are of one height.
void fitIconsToText(QListView *list)
{
    const int height = list->fontMetrics().height();
    list->setIconSize(QSize(height, height));
}

} // namespace quorrin::downloader
