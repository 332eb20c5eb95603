// The updater as shipped, for the end-to-end test's update site on loopback.
#include "updaterprogram.h"

int main(int argc, char *argv[])
{
    return quorrin::updater::runUpdater(argc, argv, QStringLiteral(LOOPBACK_UPDATE_SITE),
                                        QByteArrayLiteral(LOOPBACK_PUBLIC_KEY));
}
