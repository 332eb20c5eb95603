#pragma once

#include <QByteArray>

namespace quorrin::updater {

// The minisign public key (the base64 line of a minisign.pub) that installers must be signed
// with, as built into this updater (QUORRIN_UPDATE_PUBLIC_KEY); empty when the build names
// none, and then installers are offered unchecked. Each window library has its own.
QByteArray updatePublicKey();

} // namespace quorrin::updater
