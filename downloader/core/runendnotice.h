#pragma once

#include <QString>

#include <chrono>

namespace quorrin::downloader {

// Whether the end of a run deserves a desktop notification: the run lasted more than ten
// seconds and the user is looking elsewhere (Quorrin's window is not the active one).
bool announceRunEnd(std::chrono::milliseconds lasted, bool windowActive);

// What the end of a run adds to its notification about the entries that failed: how many,
// in French ("1 téléchargement a échoué", "3 téléchargements ont échoué"); empty when none
// did.
QString failedEntriesNotice(int failedEntries);

} // namespace quorrin::downloader
