#pragma once

#include <QByteArrayView>
#include <QString>

namespace quorrin::updater {

// The largest signature file that is fetched: a .minisig is about 300 bytes.
inline constexpr qint64 MaxSignatureFileSize = 4096;

// The signature of the installer at `downloadUrl`: the same address with ".minisig" after it.
QString signatureUrlFor(const QString &downloadUrl);

// For an installer already at `setupPath` (from an earlier day): true when it verifies
// against `signatureFile` with `publicKey` (verifyMinisign). One that does not is deleted (a
// symbolic link there is removed, not what it points to), so nothing unverified stays beside
// the updater to be offered later.
bool keepVerifiedInstaller(QByteArrayView publicKey, QByteArrayView signatureFile,
                           const QString &setupPath);

} // namespace quorrin::updater
