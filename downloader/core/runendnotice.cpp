#include "runendnotice.h"

#include <QLocale>

namespace quorrin::downloader {

bool announceRunEnd(std::chrono::milliseconds lasted, bool windowActive)
{
    return lasted > std::chrono::seconds(10) && !windowActive;
}

QString failedEntriesNotice(int failedEntries)
{
    if (failedEntries <= 0)
        return {};
    // French counts thousands with a narrow space, whatever the user's locale.
    const QString count = QLocale(QLocale::French, QLocale::France).toString(failedEntries);
    if (failedEntries == 1)
        return QStringLiteral("1 téléchargement a échoué");
    return QStringLiteral("%1 téléchargements ont échoué").arg(count);
}

} // namespace quorrin::downloader
