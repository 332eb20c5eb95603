#pragma once

#include "downloadfailure.h"

#include <QString>

#include <chrono>
#include <functional>

namespace quorrin {

struct DownloadResult {
    bool ok = false; // the complete file is now at the target
    QString cause;   // why it failed, one short French sentence for the user; empty when ok
    DownloadFailure failure = DownloadFailure::None;
    QString path; // where the file now is, when ok
};

// The speed under which a try is given up: one whose speed stays under the floor over a whole
// span ends, and the next try goes on where it stopped, on a fresh connection; the fifth such
// try in a row ends the transfer. The default, 1 KiB/s over a minute, is far below any usable
// line and far above a connection that only drips; a zero rate sets no floor.
struct LowestSpeed {
    qint64 bytesPerSecond = 1024;
    std::chrono::milliseconds over = std::chrono::seconds(60);
};

// Blocking downloads on the process's transfer engine, which keeps connections, DNS answers
// and TLS sessions from one download to the next.
class FileDownloader {
public:
    // Called on the engine's thread while the caller waits, a few times a second, with bytes
    // received and the announced total (0 when unknown). Returning false abandons the
    // transfer.
    using Progress = std::function<bool(qint64 received, qint64 total)>;

    // Downloads `url` (http, https, ftp, ftps; redirects followed) into the file `path`, taken
    // exactly as given. The data goes to a temporary file beside the target, which replaces
    // the target only once the whole file has arrived; on failure the target is untouched.
    DownloadResult download(const QString &url, const QString &path, const Progress &progress = {});

    // A transfer that receives nothing for this long is abandoned. Default 60 s.
    void setStallTimeout(std::chrono::milliseconds timeout) { m_stallTimeout = timeout; }
    // The first wait between two tries that bring nothing. Default 1 s.
    void setRetryWait(std::chrono::milliseconds wait) { m_retryWait = wait; }
    void setLowestSpeed(LowestSpeed lowest) { m_lowestSpeed = lowest; }

private:
    LowestSpeed m_lowestSpeed;
    std::chrono::milliseconds m_stallTimeout = std::chrono::seconds(60);
    std::chrono::milliseconds m_retryWait = std::chrono::seconds(1);
};

// Downloads with the process-wide downloader and records the outcome in lastDownloadOk().
DownloadResult DownloadToFile(const QString &url, const QString &path);

// Downloads `url` into `path` and returns true exactly when the complete file is at `path`.
// The transfer writes into a new temporary file in the same directory, and only a complete,
// successful transfer (a success status, as many bytes as announced, data flushed to disk)
// is renamed onto `path`, replacing what was there. A failed, abandoned or interrupted
// transfer removes its temporary file and leaves whatever was at `path` as it was; so does
// a target that cannot be written (missing or read-only directory, a directory at `path`),
// which is found before anything is sent. "?" and "*" in `path` are plain characters.
// Uses one process-wide downloader, so later calls reuse its connections.
bool DownloadFile(const QString &url, const QString &path);

// The outcome of the last DownloadFile or DownloadToFile in this process; false at start.
bool lastDownloadOk();

} // namespace quorrin
