#include "pathexistence.h"

#include "systemerror.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>

namespace quorrin::downloader {

Existence testExistence(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0)
        return {Existence::Present, {}};
    // A path under a plain file cannot exist; that is an answer, not a failure.
    if (errno == ENOENT || errno == ENOTDIR)
        return {Existence::Absent, {}};
    return {
        Existence::Failed,
        QStringLiteral("Impossible de vérifier « %1 » : %2").arg(path, systemErrorCause(errno))};
}

Result<> makeDirectory(const QString &path)
{
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return {};
    return Failure{QStringLiteral("Impossible de créer le dossier « %1 » : %2")
                       .arg(path, systemErrorCause(errno))};
}

} // namespace quorrin::downloader
