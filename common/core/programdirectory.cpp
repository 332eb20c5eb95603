#include "programdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorrin {
namespace {

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
    return QCoreApplication::applicationDirPath();
}

QString dataDirectory(const QString &programDirectory)
{
    return QFileInfo(programDirectory).isWritable() ? programDirectory : userDataDirectory();
}

} // namespace quorrin
