#pragma once

// The engine behind Transfer and DownloadFile: one libcurl multi handle for the process, served
// by a thread of its own. Internal to the transfer code.

#include "filedownload.h"
#include "transfer.h"

#include <QByteArray>

#include <memory>
#include <optional>

namespace quorrin::engine {

// Told of a job's progress and end, on the engine's thread, while the job's lock is held.
class Observer {
public:
    virtual ~Observer() = default;
    // False abandons the transfer: it then finishes as DownloadFailure::Cancelled.
    virtual bool progressed(qint64 received, qint64 total) = 0;
    virtual void finished(const DownloadResult &result, QByteArray body,
                          QByteArray contentType) = 0;
};

// Starts a transfer of `url` (any address: it is checked and encoded here) into the file
// `path`, or into memory without one. The observer is told once of the end, unless
// the job is cancelled first; a job that cannot start at all is finished before this returns.
std::shared_ptr<Job> start(const QString &url, const std::optional<QString> &path,
                           TransferOptions options, Observer *observer);

// Stops the job for good: once this returns the observer is never called again, and nothing of
// the job stands at its target (unless it had finished). With `keepData`, a part file that a
// later transfer can continue stays. Waits while the job writes or commits.
void cancel(const std::shared_ptr<Job> &job, bool keepData = false);

} // namespace quorrin::engine
