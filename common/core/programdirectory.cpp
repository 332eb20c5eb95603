#include "programdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorrin {
namespace {

QString &pinnedDirectory()
{
    static QString directory;
    return directory;
}

QString userDataDirectory()
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString directory = QDir(base).filePath(QStringLiteral("Quorrin"));
    QDir().mkpath(directory);
    return directory;
}

} // namespace

QString programDirectory()
{
    const QString &pinned = pinnedDirectory();
    return pinned.isEmpty() ? QCoreApplication::applicationDirPath() : pinned;
}

QString dataDirectory()
{
    const QString directory = programDirectory();
    return QFileInfo(directory).isWritable() ? directory : userDataDirectory();
}

void setProgramDirectory(const QString &directory)
{
    pinnedDirectory() = QDir::cleanPath(directory);
}

} // namespace quorrin
