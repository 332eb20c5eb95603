#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
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

// The entries of a record that have not ended, in queue order; nothing for bytes that are no
// such record (another program's, another version, cut short, invalid UTF-8 or UTF-16, control
// bytes, a line of its log that is neither an entry nor an ended one), a record without
// entries, more than MaxQueueEntries entries, or an entry the queue could not hold (a row other
// than its address's name, a line break, a first row that reads as the placeholder).
//
// A record is the run's entries as serializeInterruptedRun() wrote them, then a log of what
// happened since, one line each, appended as it happens: an entry added at the end of the run
// (loggedEntry()) or the index of an entry that ended (loggedEnd()). A last line cut short by
// a crash is no line yet. Written by the first version, a record is its entries alone.
std::optional<QList<InterruptedEntry>> parseInterruptedRun(const QByteArray &bytes);

// The record of `entries`, none of them ended: one line of JSON in UTF-8, with a marker of its
// own and a version.
QByteArray serializeInterruptedRun(const QList<InterruptedEntry> &entries);
// The same record handed to `take` in pieces of about SerializedPiece bytes, in order, so that
// a long run's record is never whole in memory; false once `take` refuses one.
constexpr qsizetype SerializedPiece = 64 * 1024;
bool serializeInterruptedRun(const QList<InterruptedEntry> &entries,
                             const std::function<bool(const QByteArray &)> &take);
// The log line of an entry added at the end of the run.
QByteArray loggedEntry(const InterruptedEntry &entry);
// The log line of the entry at `index` in the run, which has ended.
QByteArray loggedEnd(int index);

} // namespace quorrin::downloader
