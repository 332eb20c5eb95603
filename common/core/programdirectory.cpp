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
    // A start that only hands its addresses to a running window ends before it makes an
    // application object; the system names its executable all the same.
    if (!QCoreApplication::instance())
        return QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath())
            .absolutePath();
    return QCoreApplication::applicationDirPath();
}

QString dataDirectory(const QString &programDirectory)
{
    return QFileInfo(programDirectory).isWritable() ? programDirectory : userDataDirectory();
}

} // namespace quorrin
