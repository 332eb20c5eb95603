#include "runendnotice.h"

namespace quorrin::downloader {

bool announceRunEnd(std::chrono::milliseconds lasted, bool windowActive)
{
    return lasted > std::chrono::seconds(10) && !windowActive;
}

} // namespace quorrin::downloader
