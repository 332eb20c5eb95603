#include "pathexistence.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace quorrin::downloader {
namespace {

QString causeOf(int error)
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

} // namespace

Existence testExistence(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
        return {Existence::Present, {}};
    // A path under a plain file cannot exist; that is an answer, not a failure.
    if (errno == ENOENT || errno == ENOTDIR)
        return {Existence::Absent, {}};
    return {Existence::Failed,
            QStringLiteral("Impossible de vérifier « %1 » : %2").arg(path, causeOf(errno))};
}

Result<> makeDirectory(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return {};
    return Failure{
        QStringLiteral("Impossible de créer le dossier « %1 » : %2").arg(path, causeOf(errno))};
}

} // namespace quorrin::downloader
