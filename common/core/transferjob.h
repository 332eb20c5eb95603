#pragma once

// One transfer as the engine holds it, and the libcurl callbacks that fill it. Internal to the
// transfer code.
//
// A job moves through its stages on three threads: its file is opened and committed in turn
// on its own disk queue (a new file is opened on its owner's thread), its tries run on the
// engine's thread, and its owner cancels or lands it from its own thread. The job's lock is
// never held while waiting on the network or the disk.

#include "diskqueue.h"
#include "partfile.h"
#include "resumepolicy.h"
#include "transferconnection.h"
#include "transferengine.h"

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorrin::engine {

// A file this small is flushed whole when it lands, without the disk starting on it first; it
// gets no room ahead of its data, which comes in order and in a moment.
constexpr qint64 SmallFile = 1 << 20;

// How often progress is reported at most.
inline constexpr auto ProgressInterval = std::chrono::milliseconds(100);

DownloadResult failed(DownloadFailure failure, long detail = 0);

enum class Stage {
    Opening,      // its file is being opened
    Transferring, // on the engine's thread, on the line or waiting for its next try
    Complete,     // all data in the part file, checked on the disk queue, waiting to land
    Committing,   // being put at its target: nothing stops it any more
    Ended,        // finished, cancelled or stopped
};

// How a job's file is shared among connections; the engine thread's own.
struct Split {
    // The transfer may use several connections. Off for good once the server refused one,
    // answered a request for a piece with something else, or changed the file.
    bool allowed = false;
    // The server named the file's size and version, and takes requests for ranges.
    bool possible = false;
    // More connections were found not to help: the job keeps those it has.
    bool settled = false;
    std::chrono::milliseconds window{0};
    qint64 reference = -1;       // the first connection's bytes over its window, alone
    std::vector<int> round;      // the connections added last, not yet judged
    std::vector<qint64> brought; // what those of the round already judged brought
    // Since when the engine's waiting is counted for the current round (or the reference),
    // and how long it had waited for the network by then.
    std::optional<Clock::time_point> roundSince;
    Clock::duration waitedBefore{};
    Clock::time_point lastRelief; // when a connection was last looked at for its pace
};

struct Job : std::enable_shared_from_this<Job> {
    // Set before the job reaches the engine; read-only afterwards.
    QByteArray url;
    QString path; // the target, for a file
    TransferOptions options;
    std::shared_ptr<DiskQueue> disk;

    // Guards everything below: the engine's callbacks, the disk queue and the owner take turns.
    std::mutex mutex;
    Stage stage = Stage::Opening;
    Observer *observer = nullptr; // null once nobody listens
    std::unique_ptr<PartFile> file;
    std::optional<QString> landAt; // where the complete file goes, once known
    bool ready = false;            // the complete data is accepted, the disk writing it
    bool multiplexed = false;      // the complete answer came over HTTP/2 or later
    bool keepData = false;         // what is left of the file stays for a later transfer
    bool landed = false;           // it ended with the complete file at its target
    QByteArray body;
    QByteArray type; // the answer's Content-Type

    // What the tries so far know of the file.
    QByteArray validator; // sent as If-Range: the server's word that the file is unchanged
    QByteArray etag;      // the version's names, as its answers gave them
    QByteArray lastModified;
    qint64 total = -1;     // the file's size, once an answer told it
    bool reserved = false; // the part file has its room for `total` bytes
    bool refetch = false;  // the answer was of no use: the next try asks for the whole file
    qint64 best = 0;       // the most bytes held so far: more is progress
    int tries = 0;
    int fruitlessTries = 0;
    int slowTries = 0;
    bool reachedServer = false;

    // The engine thread's own.
    QByteArray host; // the server of the address, as the engine counts connections to it
    std::vector<std::unique_ptr<Connection>> connections;
    int madeConnections = 0;
    Split split;
    bool holdsPlace = false; // on its line, one of those it lets on at once
    bool saidBusy = false;   // its server answered that it was too busy
    Clock::time_point started;
    Clock::time_point lastReport;
    Clock::time_point retryAt;

    qint64 received() const { return file ? file->size() : body.size(); }
    bool isHttp(const Connection &connection) const;
    // Whether its owner waits for it now: its turn on its line has come, or it has no line.
    bool awaited() const;
    FileVersion version() const { return {etag, lastModified, validator, total}; }
    // A new connection of the job, without its handle yet.
    Connection &addConnection();
    // Whether a connection of the job other than `connection` is on the line.
    bool othersActive(const Connection &connection) const;

    // Drops the bytes held, for a try that starts the file over.
    void startOver();
    // Opens the file the job writes into, in its turn on the job's disk queue; true when the
    // job may go on the line. A file that cannot be opened finishes the job; a job cancelled
    // meanwhile has its disposal next on the queue.
    bool openFile();
    // Takes the job's file away and, on the disk queue, keeps what a later transfer may
    // continue (with keepData) and removes the rest.
    void dispose();
    // Checks the complete file and starts its way to the disk, then, once it may land, puts
    // it at its target; on the disk queue, after everything the file asked of the disk before.
    void settle();
    // Puts the complete file at `target` (flushed first), or, when the target must not be
    // replaced and was taken meanwhile, at the next free path; its directory synced when
    // asked. Only for a job whose stage is Committing.
    DownloadResult commit(const QString &target, bool syncDirectory);
    // Tells the end of a commit: first whoever waits for the landing, then the owner.
    void announceLanding(const DownloadResult &result);
    void committed(const DownloadResult &result);
    // Tells the end, with the lock held; what is left of the file is disposed of.
    void finish(const DownloadResult &result);

private:
    void settleNow();
    DownloadFailure checkData(PartFile &part) const;
};

// libcurl's callbacks, with the Connection as their user data.
size_t receiveHeader(char *data, size_t size, size_t count, void *connection);
size_t receive(char *data, size_t size, size_t count, void *connection);
int progressed(void *connection, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t);
// Checks the answer under way on `connection` against the bytes held; false when it is of no
// use.
bool fit(Job &job, Connection &connection);

} // namespace quorrin::engine
