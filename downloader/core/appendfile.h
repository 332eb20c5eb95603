#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>

namespace quorrin::downloader {

// A regular file that bytes are appended to, open for the life of the object: never through a
// link, never a new file, never a FIFO waited on.
class AppendFile {
public:
    explicit AppendFile(const QString &path);
    ~AppendFile();
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    // Why the file could not be opened; empty when it is open.
    const QString &failure() const { return m_failure; }
    Result<> append(const QByteArray &bytes);
    // Waits until what was appended is on the disk.
    Result<> sync();

private:
    int m_fd = -1;
    QString m_failure;
};

} // namespace quorrin::downloader
