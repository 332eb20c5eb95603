#pragma once

#include <QString>

#include <optional>

namespace quorrin {

// The only row of the queue list while the queue is empty.
inline const QString QueuePlaceholder = QStringLiteral("Aucun Fichier à télécharger");

// The queue list's rows and indexes are 16-bit on the original platform; so is its size here.
inline constexpr int MaxQueueEntries = 32767;

// The file name an address proposes: everything after its last "/" (possibly empty, a query
// string included), or nothing for an address without "/".
std::optional<QString> fileNameFromAddress(const QString &address);

// The storage path for `name` in the directory of `path` (everything up to and including its
// last "/"), or nothing when `path` has no "/".
std::optional<QString> pathInSameDirectory(const QString &path, const QString &name);

} // namespace quorrin
