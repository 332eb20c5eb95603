#pragma once

#include <QString>
#include <QStringList>

namespace quorrin::downloader {

// Where one queued entry is written, as the batch run needs it before the transfer starts.
struct DownloadTarget {
    // The stored path, or the numbered one chosen when something stands at it.
    QString path;
    // The causes to report for the entry, in the order they arose.
    QStringList causes;
    // False when the entry gets no transfer: its path is refused by the system's limits.
    bool usable = true;
};

// Prepares the target of a stored path, in this order: the path's limits are checked (a
// refusal ends here); the missing directories are made (a failure is reported and the run
// goes on); a free name is chosen when something stands at the path (a failed test is
// reported and the run goes on); the limits of the path chosen are checked again.
DownloadTarget prepareTarget(const QString &storedPath);

// The first numbered path free of the stored one, for a name taken while the transfer runs.
QString nextFreePath(const QString &storedPath);

} // namespace quorrin::downloader
