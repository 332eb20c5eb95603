#include "handoverplace.h"

#include "systemerror.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorrin::downloader {
namespace {

// The data directory as one spelling of it, links resolved, so that two ways of naming it
// meet at one window.
QString canonicalDirectory(const QString &directory)
{
    const QString canonical = QFileInfo(directory).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(directory).absolutePath()) : canonical;
}

// Whatever can reach a socket in the directory may hand addresses in: only its owner may.
Result<> checkPrivate(const QString &directory)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(directory).constData(), &status) != 0)
        return Failure{QStringLiteral("dossier d'exécution « %1 » : %2")
                           .arg(directory, systemErrorCause(errno))};
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return Failure{QStringLiteral("le dossier d'exécution « %1 » n'est pas réservé à "
                                      "l'utilisateur")
                           .arg(directory)};
    return {};
}

} // namespace

Result<HandOverPlace> handOverPlace(const QString &runtimeDirectory, const QString &dataDirectory)
{
    if (runtimeDirectory.isEmpty())
        return Failure{QStringLiteral("aucun dossier d'exécution (XDG_RUNTIME_DIR)")};
    if (const Result<> isPrivate = checkPrivate(runtimeDirectory); !isPrivate)
        return Failure{isPrivate.cause()};
    const QByteArray key = QCryptographicHash::hash(canonicalDirectory(dataDirectory).toUtf8(),
                                                    QCryptographicHash::Sha256)
                               .toHex()
                               .left(16);
    const QDir runtime(runtimeDirectory);
    const QString stem = QStringLiteral("quorrin-") + QString::fromLatin1(key);
    HandOverPlace place{runtime.filePath(stem + QStringLiteral(".socket")),
                        runtime.filePath(stem + QStringLiteral(".lock"))};
    if (QFile::encodeName(place.socketPath).size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return Failure{QStringLiteral("le chemin du dossier d'exécution « %1 » est trop long")
                           .arg(runtimeDirectory)};
    return place;
}

QString userRuntimeDirectory()
{
    // Qt notes where it goes when XDG_RUNTIME_DIR is not set or not the user's; its choice is
    // the one wanted, and a start has nothing else to say unless the place cannot be used,
    // which it tells in its own words.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(previous);
    return directory;
}

} // namespace quorrin::downloader
