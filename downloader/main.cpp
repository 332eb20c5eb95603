#include "quorrinprogram.h"

int main(int argc, char *argv[])
{
    return quorrin::downloader::runQuorrin(argc, argv);
}
