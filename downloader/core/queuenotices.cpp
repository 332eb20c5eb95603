#include "queuenotices.h"

#include "entrynaming.h"

#include <QLocale>

namespace quorrin::downloader {
namespace {

// French counts thousands with a narrow space, whatever the user's locale.
QString frenchCount(int count)
{
    return QLocale(QLocale::French, QLocale::France).toString(count);
}

} // namespace

QString queueFullCaption(int count)
{
    if (count == 1)
        return QStringLiteral("File pleine : 1 adresse non ajoutée");
    return QStringLiteral("File pleine : %1 adresses non ajoutées").arg(frenchCount(count));
}

QString queueFullLine(int count)
{
    const QString limit = frenchCount(MaxQueueEntries);
    if (count == 1)
        return QStringLiteral("1 adresse n'a pas trouvé place dans la file (%1 entrées au plus)")
            .arg(limit);
    return QStringLiteral("%1 adresses n'ont pas trouvé place dans la file (%2 entrées au plus)")
        .arg(frenchCount(count), limit);
}

QString notAddressesLine(int count)
{
    if (count == 1)
        return QStringLiteral("1 ligne n'est pas une adresse et n'a pas été ajoutée");
    return QStringLiteral("%1 lignes ne sont pas des adresses et n'ont pas été ajoutées")
        .arg(frenchCount(count));
}

} // namespace quorrin::downloader
