#pragma once

#include <QString>

class QListWidget;
class QListWidgetItem;

namespace quorrin::downloader {

// Adds a row at the end of the run's report. A row with a `cause` reports an error: it shows
// the desktop's warning icon and carries the cause as its tooltip and accessible description,
// so that a failure stands out among the other rows and a screen reader can read why.
QListWidgetItem *appendReportRow(QListWidget *report, const QString &text,
                                 const QString &cause = {});

// How many entries of the report failed: each entry's error rows follow one another between
// its first and last rows, so each unbroken run of error rows is one failed entry.
int failedEntryCount(const QListWidget *report);

} // namespace quorrin::downloader
