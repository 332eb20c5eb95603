#pragma once

#include <QByteArrayView>
#include <QString>

namespace quorrin::updater {

// Checks a minisign detached signature of the file at `path`, with libsodium.
// `publicKey` is the base64 line of a minisign.pub (surrounding blanks allowed);
// `signatureFile` is the whole .minisig text: an "untrusted comment: " line, the signature
// line, a "trusted comment: " line and the global signature line, each ended by LF (or CR LF).
// True only when all of these hold: the key is an Ed25519 key, the signature names the key's
// id, the signature verifies over the file's bytes (algorithm "Ed") or over their BLAKE2b-512
// hash (algorithm "ED"), and the global signature verifies over the signature followed by the
// trusted comment's text. The file is read in pieces for "ED"; for "Ed", whose check needs the
// whole message at once, it is mapped into memory and refused past MaxLegacySignedSize.
bool verifyMinisign(QByteArrayView publicKey, QByteArrayView signatureFile, const QString &path);

// The largest file that a legacy ("Ed") signature is checked for.
inline constexpr qint64 MaxLegacySignedSize = qint64(1) << 30;

} // namespace quorrin::updater
