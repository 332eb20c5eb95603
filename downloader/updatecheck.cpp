#include "updatecheck.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef QUORRIN_UPDATE_SITE_CONFIGURED
#error "QUORRIN_UPDATE_SITE_CONFIGURED tells whether the build names an update site"
#endif

namespace quorrin {
namespace {

std::optional<bool> &siteConfiguredOverride()
{
    static std::optional<bool> configured;
    return configured;
}

} // namespace

bool updateSiteConfigured()
{
    if (const std::optional<bool> configured = siteConfiguredOverride())
        return *configured;
    return QUORRIN_UPDATE_SITE_CONFIGURED;
}

void setUpdateSiteConfigured(std::optional<bool> configured)
{
    siteConfiguredOverride() = configured;
}

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
    if (!updateSiteConfigured())
        return false;
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
