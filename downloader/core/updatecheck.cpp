#include "updatecheck.h"

#include "durablefile.h"

#include <QFile>
#include <QFileInfo>

namespace quorrin::downloader {

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
    // Replaced whole, never through a symbolic link at its name; as a file that the user made:
    // readable by all, writable by its owner.
    return bool(replaceFileDurably(checkFile, checkFileContents(today), 0644));
}

QString updaterCommandLine(int revision, const QString &executableName)
{
    return QStringList{QStringLiteral("setup_quorrin"), QString::number(revision),
                       QStringLiteral("Quorrin"), executableName}
        .join(QLatin1Char('\t'));
}

} // namespace quorrin::downloader
