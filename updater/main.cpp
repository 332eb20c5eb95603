#include "updaterprogram.h"

int main(int argc, char *argv[])
{
    return quorrin::updater::runUpdater(argc, argv, QStringLiteral(QUORRIN_UPDATE_BASE_URL),
                                        QByteArrayLiteral(QUORRIN_UPDATE_PUBLIC_KEY));
}
