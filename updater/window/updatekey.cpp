#include "updatekey.h"

#ifndef QUORRIN_UPDATE_PUBLIC_KEY
#error "QUORRIN_UPDATE_PUBLIC_KEY holds the key that installers are signed with, or nothing"
#endif

namespace quorrin::updater {

QByteArray updatePublicKey()
{
    return QByteArrayLiteral(QUORRIN_UPDATE_PUBLIC_KEY);
}

} // namespace quorrin::updater
