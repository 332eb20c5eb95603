#include "reportrow.h"

#include <QIcon>
#include <QListWidget>
#include <QStyle>

namespace quorrin::downloader {
namespace {

// Marks the rows that report an error.
constexpr int ErrorRole = Qt::UserRole;

QIcon warningIcon(const QWidget *report)
{
    return QIcon::fromTheme(QStringLiteral("dialog-warning"),
                            report->style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

bool isErrorRow(const QListWidgetItem *row)
{
    return row->data(ErrorRole).toBool();
}

} // namespace

QListWidgetItem *appendReportRow(QListWidget *report, const QString &text, const QString &cause)
{
    auto *row = new QListWidgetItem(text, report);
    if (cause.isEmpty())
        return row;
    row->setData(ErrorRole, true);
    row->setIcon(warningIcon(report));
    row->setToolTip(cause);
    row->setData(Qt::AccessibleDescriptionRole, cause);
    return row;
}

int failedEntryCount(const QListWidget *report)
{
    int failed = 0;
    bool previousWasError = false;
    for (int i = 0; i < report->count(); ++i) {
        const bool error = isErrorRow(report->item(i));
        if (error && !previousWasError)
            ++failed;
        previousWasError = error;
    }
    return failed;
}

} // namespace quorrin::downloader
