#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace quorrin::updater {

// Where a desktop records which applications open which types of file: its MIME application
// lists (mimeapps.list) and its desktop entries, each list most preferred first.
struct DesktopRegistry {
    QStringList configDirectories;      // mimeapps.list
    QStringList applicationDirectories; // desktop entries, and a mimeapps.list beside them
    QStringList desktops; // lower case: each one's "<desktop>-mimeapps.list" comes first
};

// This user's registry: $XDG_CONFIG_HOME and $XDG_CONFIG_DIRS, the applications folders of
// $XDG_DATA_HOME and $XDG_DATA_DIRS, and the desktops of $XDG_CURRENT_DESKTOP.
DesktopRegistry userDesktopRegistry();

// Whether `registry` has an application that opens one of `mimeTypes`: one that a list names
// for the type as its default or as an added association, or whose desktop entry lists the
// type, unless a more preferred list removed that association. Only an entry that exists, is
// an application, is not hidden, and whose program can be found counts.
bool applicationRegisteredFor(const QStringList &mimeTypes, const DesktopRegistry &registry);

// The types a file is opened as: its own, its aliases and the types it is a kind of, without
// the catch-all application/octet-stream (whose applications show bytes, they do not install).
QStringList openingTypes(const QString &file);

// Whether the desktop can open `file` as a double click would: an executable file starts by
// itself; anything else needs the desktop's opener (xdg-open) and an application registered
// for one of its opening types.
bool desktopCanOpen(const QString &file);

// Something that tells whether a file can be opened as desktopCanOpen does; windows take one,
// so that tests can answer it.
using OpenCheck = std::function<bool(const QString &file)>;

} // namespace quorrin::updater
