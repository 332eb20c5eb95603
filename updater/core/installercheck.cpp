#include "installercheck.h"

#include "minisign.h"

#include <QFile>
#include <QFileInfo>

namespace quorrin::updater {

QString signatureUrlFor(const QString &downloadUrl)
{
    return downloadUrl + QStringLiteral(".minisig");
}

bool keepVerifiedInstaller(QByteArrayView publicKey, QByteArrayView signatureFile,
                           const QString &setupPath)
{
    if (verifyMinisign(publicKey, signatureFile, setupPath))
        return true;
    const QFileInfo entry(setupPath);
    if (entry.isSymLink() || entry.isFile())
        QFile::remove(setupPath);
    return false;
}

} // namespace quorrin::updater
