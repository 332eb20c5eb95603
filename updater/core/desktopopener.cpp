#include "desktopopener.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QSet>
#include <QStandardPaths>

namespace quorrin::updater {
namespace {

// A key file's groups, each a key's value by its name. Desktop entries and MIME lists share
// the format; their lists are separated by ";", which QSettings would take for a comment.
using KeyFile = QHash<QString, QHash<QString, QString>>;

KeyFile readKeyFile(const QString &path)
{
    KeyFile groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
        } else if (const qsizetype equals = line.indexOf(QLatin1Char('='));
                   equals > 0 && !line.startsWith(QLatin1Char('#'))) {
            QString &value = groups[group][line.left(equals).trimmed()];
            if (value.isEmpty()) // the first of a repeated key counts
                value = line.mid(equals + 1).trimmed();
        }
    }
    return groups;
}

QStringList listValue(const QString &value)
{
    return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

bool programFound(const QString &program)
{
    if (program.isEmpty())
        return true;
    if (QDir::isAbsolutePath(program))
        return QFileInfo(program).isExecutable();
    return !QStandardPaths::findExecutable(program).isEmpty();
}

struct DesktopEntry {
    bool usable = false;
    QStringList mimeTypes;
};

DesktopEntry readDesktopEntry(const QString &path)
{
    const QHash<QString, QString> entry = readKeyFile(path).value(QStringLiteral("Desktop Entry"));
    DesktopEntry read;
    read.usable = entry.value(QStringLiteral("Type")) == QLatin1String("Application") &&
                  entry.value(QStringLiteral("Hidden")) != QLatin1String("true") &&
                  !entry.value(QStringLiteral("Exec")).isEmpty() &&
                  programFound(entry.value(QStringLiteral("TryExec")));
    read.mimeTypes = listValue(entry.value(QStringLiteral("MimeType")));
    return read;
}

// Every desktop entry by its id, its path below the applications folder with "-" for "/".
// The first folder that has an id decides it, a hidden entry included.
QHash<QString, DesktopEntry> desktopEntries(const QStringList &directories)
{
    QHash<QString, DesktopEntry> entries;
    for (const QString &directory : directories) {
        const QDir root(directory);
        QDirIterator files(directory, {QStringLiteral("*.desktop")}, QDir::Files,
                           QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString id =
                root.relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!entries.contains(id))
                entries.insert(id, readDesktopEntry(path));
        }
    }
    return entries;
}

// The MIME lists, most preferred first.
QStringList mimeLists(const DesktopRegistry &registry)
{
    QStringList names;
    for (const QString &desktop : registry.desktops)
        names << desktop + QStringLiteral("-mimeapps.list");
    names << QStringLiteral("mimeapps.list");
    QStringList lists;
    for (const QString &directory : registry.configDirectories + registry.applicationDirectories)
        for (const QString &name : names)
            lists << QDir(directory).filePath(name);
    return lists;
}

} // namespace

DesktopRegistry userDesktopRegistry()
{
    DesktopRegistry registry;
    registry.configDirectories =
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    registry.applicationDirectories =
        QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    const QString current = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower();
    registry.desktops = current.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return registry;
}

bool applicationRegisteredFor(const QStringList &mimeTypes, const DesktopRegistry &registry)
{
    const QHash<QString, DesktopEntry> entries = desktopEntries(registry.applicationDirectories);
    const auto usable = [&](const QString &id) { return entries.value(id).usable; };
    QSet<QString> removed; // "type id" pairs
    const auto pair = [](const QString &type, const QString &id) {
        return type + QLatin1Char(' ') + id;
    };
    for (const QString &list : mimeLists(registry)) {
        const KeyFile groups = readKeyFile(list);
        for (const QString &type : mimeTypes) {
            const QStringList named =
                listValue(groups.value(QStringLiteral("Default Applications")).value(type)) +
                listValue(groups.value(QStringLiteral("Added Associations")).value(type));
            for (const QString &id : named)
                if (!removed.contains(pair(type, id)) && usable(id))
                    return true;
            for (const QString &id :
                 listValue(groups.value(QStringLiteral("Removed Associations")).value(type)))
                removed.insert(pair(type, id));
        }
    }
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry)
        for (const QString &type : mimeTypes)
            if (entry->usable && entry->mimeTypes.contains(type) &&
                !removed.contains(pair(type, entry.key())))
                return true;
    return false;
}

QStringList openingTypes(const QString &file)
{
    const QMimeType own = QMimeDatabase().mimeTypeForFile(file);
    QStringList types;
    for (const QString &name : QStringList{own.name()} + own.allAncestors()) {
        const QMimeType type = QMimeDatabase().mimeTypeForName(name);
        types << name << type.aliases();
    }
    types.removeAll(QStringLiteral("application/octet-stream"));
    types.removeDuplicates();
    return types;
}

bool desktopCanOpen(const QString &file)
{
    const QFileInfo info(file);
    if (info.isFile() && info.isExecutable())
        return true;
    if (!info.exists() || QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        return false;
    return applicationRegisteredFor(openingTypes(file), userDesktopRegistry());
}

} // namespace quorrin::updater
