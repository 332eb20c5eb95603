#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace quorrin::downloader {

// The only row of the queue list while the queue is empty.
inline const QString QueuePlaceholder = QStringLiteral("Aucun Fichier à télécharger");

// The queue list's rows and indexes are 16-bit on the original platform; so is its size here.
inline constexpr int MaxQueueEntries = 32767;

// The file name an address proposes: everything after its last "/" (possibly empty, a query
// string included), or nothing for an address without "/". The blanks around the address, the
// control characters, and the user name and password of an address without a path are left
// out; "." and ".." name nothing and give the empty name.
std::optional<QString> fileNameFromAddress(const QString &address);

// The storage path for `name` in the directory of `path` (everything up to and including its
// last "/"), or nothing when `path` has no "/".
std::optional<QString> pathInSameDirectory(const QString &path, const QString &name);

// Whether `text` holds a line feed or a carriage return.
bool holdsLineBreak(const QString &text);

// The addresses in a text of several lines (LF, CR LF or CR), in order: each line without its
// surrounding blanks, blank lines left out.
QStringList addressLines(const QString &text);

} // namespace quorrin::downloader
