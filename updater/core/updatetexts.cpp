#include "updatetexts.h"

#include <QStringList>

namespace quorrin::updater {

QString updatePageUrl(const QString &baseUrl)
{
    return baseUrl + QStringLiteral("vb_addons.htm");
}

QString manualLaunchTitle()
{
    return QStringLiteral("Updater : lancement manuel");
}

QString manualLaunchQuestion(const QString &baseUrl)
{
    return QStringList{
        QStringLiteral("Ce programme recherche automatiquement des mises à jour sur :"),
        updatePageUrl(baseUrl),
        QString(),
        QStringLiteral(
            "Il se lance à partir d'une application Harrowind comme par exemple Ketterby"),
        QString(),
        QStringLiteral("Voulez-vous visiter cette page ?"),
    }
        .join(QLatin1Char('\n'));
}

QString updateTitle(const QString &programName)
{
    return QStringLiteral("Mise à jour de ") + programName;
}

QString notFoundMessage(const QString &programName)
{
    return QStringList{
        QStringLiteral("Impossible de trouver la page des mises à jour de ") + programName +
            QStringLiteral(" !"),
        QString(),
        QStringLiteral("Vous n'êtes peut-être pas connecté(e)"),
        QStringLiteral("ou la page vb_Addons n'est pas disponible ou n'est plus conforme"),
    }
        .join(QLatin1Char('\n'));
}

QString cannotOpenInstallerMessage(const QString &programName, const QString &setupPath)
{
    return QStringList{
        QStringLiteral("Aucune application de ce bureau ne sait ouvrir le programme "
                       "d'installation :"),
        setupPath,
        QString(),
        programName + QStringLiteral(" n'a pas été fermé ; vous pouvez installer la mise à jour "
                                     "depuis ce fichier."),
    }
        .join(QLatin1Char('\n'));
}

QString notificationText(const QString &programName, const QString &pageRevision)
{
    return QStringList{
        QStringLiteral("Une nouvelle version de"),
        programName + QStringLiteral("  (révision ") + pageRevision + QLatin1Char(')'),
        QStringLiteral("est disponible !"),
        QString(),
        QStringLiteral("Cliquez ici pour l'installer."),
    }
        .join(QLatin1Char('\n'));
}

} // namespace quorrin::updater
