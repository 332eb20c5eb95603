#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

namespace quorrin::downloader {

// The file, in the program's data directory, that records the day of the last update check.
inline const QString CheckFileName = QStringLiteral("LastDateCheckUpdate.txt");

// A date as the check file writes it: month-day-year, "12-07-2026".
QString checkFileDate(const QDate &date);

// The check file's first line: everything before its first CR (a lone LF does not end it).
QString firstLine(const QByteArray &contents);

// The whole check file for `date`: three lines ending in CR LF, the date and a note to a human.
QByteArray checkFileContents(const QDate &date);

// Whether an update check is due today at `checkFile`, and if so records today there first.
// True only when the check is due and recorded: a check file that cannot be written must not
// start the updater at every start-up. The record replaces whatever stands at `checkFile` (a
// symbolic link included, never the file it points to), at once, so an interrupted write leaves the
// old one.
bool recordUpdateCheck(const QString &checkFile, const QDate &today);

// The updater's command line for this program: "setup_quorrin", the revision, "Quorrin" and
// the executable's file name, TAB-separated.
QString updaterCommandLine(int revision, const QString &executableName);

} // namespace quorrin::downloader
