#include "systemerror.h"

#include <cerrno>

namespace quorrin {

QString systemErrorCause(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("Accès refusé");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disque plein");
    case EROFS:
        return QStringLiteral("Disque en lecture seule");
    case ENAMETOOLONG:
        return QStringLiteral("Nom trop long");
    case ENOTDIR:
        return QStringLiteral("Un fichier porte le nom d'un des dossiers du chemin");
    case ENOENT:
        return QStringLiteral("Le dossier parent n'existe pas");
    case ELOOP:
        return QStringLiteral("Trop de liens symboliques dans le chemin");
    default:
        return QStringLiteral("Erreur du système de fichiers (%1)").arg(error);
    }
}

} // namespace quorrin
