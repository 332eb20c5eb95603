#include "updatecheck.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quorrin::downloader {
namespace {

// Writes `contents` to a new file beside `path` and renames it onto `path`. A rename replaces
// the directory entry itself, so a symbolic link at `path` is replaced, not followed (as a
// save through QSaveFile would, overwriting the file the link points to).
bool replaceFile(const QString &path, const QByteArray &contents)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open() || file.write(contents) != contents.size() || !file.flush())
        return false;
#ifdef Q_OS_UNIX
    // On disk before its name replaces the old record's, as QSaveFile did.
    if (::fsync(file.handle()) != 0)
        return false;
#endif
    // As a file that the user made: readable by all, writable by its owner.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                        QFile::ReadGroup | QFile::ReadOther);
    file.close();
    std::error_code error;
    std::filesystem::rename(QFile::encodeName(file.fileName()).toStdString(),
                            QFile::encodeName(path).toStdString(), error);
    if (error)
        return false;
    file.setAutoRemove(false); // its name is gone: nothing there is ours to remove
    return true;
}

} // namespace

QString checkFileDate(const QDate &date)
{
    return date.toString(QStringLiteral("MM-dd-yyyy"));
}

QString firstLine(const QByteArray &contents)
{
    const qsizetype end = contents.indexOf('\r');
    return QString::fromUtf8(end < 0 ? contents : contents.left(end));
}

QByteArray checkFileContents(const QDate &date)
{
    return checkFileDate(date).toUtf8() + "\r\n" +
           QStringLiteral("mois - jour - année\r\n"
                          "(Date de Dernière vérification de la mise à jour)\r\n")
               .toUtf8();
}

bool recordUpdateCheck(const QString &checkFile, const QDate &today)
{
    QString last;
    QFile existing(checkFile);
    if (QFileInfo(checkFile).isFile() && existing.open(QIODevice::ReadOnly))
        last = firstLine(existing.read(4096)); // a longer first line is no date anyway
    if (last == checkFileDate(today))
        return false;
    return replaceFile(checkFile, checkFileContents(today));
}

QString updaterCommandLine(int revision, const QString &executableName)
{
    return QStringList{QStringLiteral("setup_quorrin"), QString::number(revision),
                       QStringLiteral("Quorrin"), executableName}
        .join(QLatin1Char('\t'));
}

} // namespace quorrin::downloader
