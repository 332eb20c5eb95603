#pragma once

#include <QString>

namespace quorrin::downloader {

// Where the Save As dialog opens for a storage path.
struct SaveAsStart {
    QString directory; // the nearest folder of the path that exists; empty: the dialog's own
    QString name;      // the rest of the path from there: its name, after any missing folders
};

// The dialog's start for `path`, so that confirming it as it opens gives `path` back (the run
// makes missing folders). A relative path counts from the current directory.
SaveAsStart saveAsStart(const QString &path);

} // namespace quorrin::downloader
