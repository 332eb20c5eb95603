#include "saveasstart.h"

#include <QDir>
#include <QFileInfo>

namespace quorrin::downloader {

SaveAsStart saveAsStart(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QString absolute = QDir::current().absoluteFilePath(path);
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    QString directory = slash == 0 ? QStringLiteral("/") : absolute.left(slash);
    QString name = absolute.mid(slash + 1);
    // The root always exists, so the climb ends.
    while (!QFileInfo(directory).isDir()) {
        const qsizetype up = directory.lastIndexOf(QLatin1Char('/'));
        name = directory.mid(up + 1) + QLatin1Char('/') + name;
        directory = up == 0 ? QStringLiteral("/") : directory.left(up);
    }
    return {directory, name};
}

} // namespace quorrin::downloader
