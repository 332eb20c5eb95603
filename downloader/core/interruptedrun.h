#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace quorrin::downloader {

// One entry of a run that had not finished: its queue row, its address and its stored path.
struct InterruptedEntry {
    QString row;
    QString address;
    QString path;

    friend bool operator==(const InterruptedEntry &, const InterruptedEntry &) = default;
};

// The largest record read: far above what a full queue of long addresses writes, and a bound
// on what a foreign file placed there costs to look at.
inline constexpr qsizetype MaxInterruptedRunBytes = 128 << 20;

// The entries of a record written by serializeInterruptedRun(), in queue order; nothing for
// anything else: bytes that are no such record (another program's, another version, cut short,
// invalid UTF-8 or UTF-16, control bytes), an empty list, more than MaxQueueEntries entries, or
// an entry the queue could not hold (a row other than its address's name, a line break, a first
// row that reads as the placeholder).
std::optional<QList<InterruptedEntry>> parseInterruptedRun(const QByteArray &bytes);

// The record of `entries`: JSON in UTF-8, with a marker of its own and a version.
QByteArray serializeInterruptedRun(const QList<InterruptedEntry> &entries);

} // namespace quorrin::downloader
