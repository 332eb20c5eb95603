#pragma once

#include "form1.h"

namespace quorrin::downloader {

// Quorrin from its command line to its end: the options, the addresses given, and the one
// window of this user and data directory, opened here or handed the addresses. Returns the
// program's exit status. `services` are the window's (the real ones when left empty).
int runQuorrin(int argc, char *argv[], Form1::Services services = {});

} // namespace quorrin::downloader
