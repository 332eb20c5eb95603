#include "updatecheck.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quorrin {

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
    // Written whole and replaced at once, so that an interrupted write leaves the old record.
    QSaveFile record(checkFile);
    return record.open(QIODevice::WriteOnly) && record.write(checkFileContents(today)) >= 0 &&
           record.commit();
}

QString updaterCommandLine(int revision, const QString &executableName)
{
    return QStringList{QStringLiteral("setup_quorrin"), QString::number(revision),
                       QStringLiteral("Quorrin"), executableName}
        .join(QLatin1Char('\t'));
}

} // namespace quorrin
