#include "minisign.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <array>
#include <optional>
#include <sodium.h>

namespace quorrin::updater {
namespace {

constexpr qsizetype KeyIdSize = 8;
constexpr qsizetype AlgorithmSize = 2;
constexpr qsizetype SignatureSize = crypto_sign_BYTES;
constexpr qsizetype HashSize = crypto_generichash_BYTES_MAX; // 64: BLAKE2b-512
constexpr qsizetype ReadChunk = qsizetype(1) << 20;

const QByteArray UntrustedPrefix = QByteArrayLiteral("untrusted comment: ");
const QByteArray TrustedPrefix = QByteArrayLiteral("trusted comment: ");
const QByteArray KeyAlgorithm = QByteArrayLiteral("Ed");
const QByteArray PrehashedAlgorithm = QByteArrayLiteral("ED");

struct PublicKey {
    QByteArray keyId;
    QByteArray key; // crypto_sign_PUBLICKEYBYTES
};

struct Signature {
    QByteArray algorithm;
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment;
    QByteArray globalSignature;
};

// Strict base64 (no blanks, padding as it must be) of exactly `size` bytes.
std::optional<QByteArray> decodeBase64(QByteArrayView text, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    size_t length = 0;
    const char *end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char *>(bytes.data()), size_t(size),
                          text.data(), size_t(text.size()), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || length != size_t(size))
        return std::nullopt;
    return bytes;
}

std::optional<PublicKey> parsePublicKey(QByteArrayView text)
{
    const std::optional<QByteArray> bytes = decodeBase64(
        text.trimmed(), AlgorithmSize + KeyIdSize + qsizetype(crypto_sign_PUBLICKEYBYTES));
    if (!bytes || !bytes->startsWith(KeyAlgorithm))
        return std::nullopt;
    return PublicKey{bytes->mid(AlgorithmSize, KeyIdSize), bytes->mid(AlgorithmSize + KeyIdSize)};
}

std::optional<Signature> parseSignature(QByteArrayView text)
{
    QList<QByteArray> lines = text.toByteArray().split('\n');
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    // Four lines, then at most an empty remainder after the last line feed.
    while (lines.size() > 4 && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() != 4 || !lines.at(0).startsWith(UntrustedPrefix) ||
        !lines.at(2).startsWith(TrustedPrefix))
        return std::nullopt;
    const std::optional<QByteArray> signature =
        decodeBase64(lines.at(1), AlgorithmSize + KeyIdSize + SignatureSize);
    const std::optional<QByteArray> global = decodeBase64(lines.at(3), SignatureSize);
    if (!signature || !global)
        return std::nullopt;
    return Signature{signature->left(AlgorithmSize), signature->mid(AlgorithmSize, KeyIdSize),
                     signature->mid(AlgorithmSize + KeyIdSize),
                     lines.at(2).mid(TrustedPrefix.size()), *global};
}

bool verifyDetached(const QByteArray &signature, const unsigned char *message, qint64 length,
                    const QByteArray &key)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.data()),
                                       message, static_cast<unsigned long long>(length),
                                       reinterpret_cast<const unsigned char *>(key.data())) == 0;
}

// BLAKE2b-512 of the file, read a piece at a time.
std::optional<std::array<unsigned char, HashSize>> hashFile(QFile &file)
{
    crypto_generichash_state state;
    if (crypto_generichash_init(&state, nullptr, 0, HashSize) != 0)
        return std::nullopt;
    QByteArray buffer(ReadChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return std::nullopt;
        if (read == 0)
            break;
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char *>(buffer.data()),
                                  static_cast<unsigned long long>(read));
    }
    std::array<unsigned char, HashSize> hash;
    if (crypto_generichash_final(&state, hash.data(), hash.size()) != 0)
        return std::nullopt;
    return hash;
}

bool verifyFile(const Signature &signature, const QByteArray &key, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return false;
    if (signature.algorithm == PrehashedAlgorithm) {
        const auto hash = hashFile(file);
        return hash && verifyDetached(signature.signature, hash->data(), HashSize, key);
    }
    // Ed25519 has no streaming form of the plain signature (libsodium's multi-part API is the
    // pre-hashed Ed25519ph, which minisign does not use): the whole file is the message.
    const qint64 size = file.size();
    if (size > MaxLegacySignedSize)
        return false;
    if (size == 0) {
        static const unsigned char nothing = 0;
        return verifyDetached(signature.signature, &nothing, 0, key);
    }
    const uchar *data = file.map(0, size);
    const bool ok = data && verifyDetached(signature.signature, data, size, key);
    if (data)
        file.unmap(const_cast<uchar *>(data));
    return ok;
}

} // namespace

bool verifyMinisign(QByteArrayView publicKey, QByteArrayView signatureFile, const QString &path)
{
    if (sodium_init() < 0)
        return false;
    const std::optional<PublicKey> key = parsePublicKey(publicKey);
    const std::optional<Signature> signature = parseSignature(signatureFile);
    if (!key || !signature || signature->keyId != key->keyId)
        return false;
    if (signature->algorithm != KeyAlgorithm && signature->algorithm != PrehashedAlgorithm)
        return false;
    const QByteArray signedComment = signature->signature + signature->trustedComment;
    if (!verifyDetached(signature->globalSignature,
                        reinterpret_cast<const unsigned char *>(signedComment.constData()),
                        signedComment.size(), key->key))
        return false;
    return verifyFile(*signature, key->key, path);
}

} // namespace quorrin::updater
