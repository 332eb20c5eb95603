#pragma once

#include <chrono>

namespace quorrin::downloader {

// Whether the end of a run deserves a desktop notification: the run lasted more than ten
// seconds and the user is looking elsewhere (Quorrin's window is not the active one).
bool announceRunEnd(std::chrono::milliseconds lasted, bool windowActive);

} // namespace quorrin::downloader
