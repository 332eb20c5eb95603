#pragma once

// The engine behind Transfer and DownloadFile: one libcurl multi handle for the process, served
// by a thread of its own. Internal to the transfer code.

#include "filedownload.h"
#include "transfer.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorrin::engine {

// Told of a job's progress and end, on the engine's thread, while the job's lock is held.
class Observer {
public:
    virtual ~Observer() = default;
    // False abandons the transfer: it then finishes as DownloadFailure::Cancelled.
    virtual bool progressed(qint64 received, qint64 total) = 0;
    virtual void finished(const DownloadResult &result, QByteArray body,
                          QByteArray contentType) = 0;
    // The engine goes away with the process while the job is not over: it never finishes.
    virtual void abandoned() = 0;
    // All the data is in the part file of a job that lands later; `awaited` when its owner
    // waits for it now, not only to start others in its place.
    virtual void arrived(bool /*multiplexed*/, bool /*awaited*/) {}
    // The server answered that it is too busy (429 or 503), or refused another connection for
    // the same file; another try follows, or the job goes on with one connection.
    virtual void serverBusy() {}
};

// Starts a transfer of `url` (any address: it is checked and encoded here) into the file
// `path`, or into memory without one. The observer is told once of the end, unless
// the job is cancelled first; a job that cannot start at all is finished before this returns.
std::shared_ptr<Job> start(const QString &url, const std::optional<QString> &path,
                           TransferOptions options, Observer *observer);

// Stops the job for good, unless its file is already being put at its target. True when it
// stopped: the observer is never called again and nothing of the job stands at its target;
// with `keepData`, a part file that a later transfer can continue stays. False when the file
// was landing or has landed: the observer hears how that ended. Never waits for the disk.
bool cancel(const std::shared_ptr<Job> &job, bool keepData = false);

// As cancel(), but a file on its way to its target lands without telling anyone.
void forget(const std::shared_ptr<Job> &job);

// Removes the part file that a stopped job of `url` into `path` kept, on that file's disk queue.
void discardPartial(const QString &url, const QString &path);

// Closes the idle connections, once no job is on the line or waiting for its next try.
void closeIdleConnections();

// Lands jobs started with landLater at their targets, in the order given: those whose data is
// complete and checked together on one disk thread, each flushed and linked, each directory
// synced once; the others as land() would.
void landTogether(const std::vector<std::pair<std::shared_ptr<Job>, QString>> &landings);

// How long the engine has waited for the network, in all, when asked on its own thread: the
// time it had to spare.
std::chrono::steady_clock::duration &waitedOnThisThread();

// Names where the complete file of a job started with landLater goes.
void land(const std::shared_ptr<Job> &job, const QString &target);

} // namespace quorrin::engine
