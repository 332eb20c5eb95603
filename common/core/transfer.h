#pragma once

#include "filedownload.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace quorrin {

namespace engine {
struct Job;
class Observer;
} // namespace engine

// A few transfers at a time out of those started with it: the others wait in the engine,
// started, and go on the line in the order they were started the moment one on it has all
// its data or ends, without a trip to the thread that started them. A transfer whose place
// in its owner's order has come (`order` at most `due`) goes at once, whatever the line holds.
struct TransferLine {
    explicit TransferLine(int limit)
        : atOnce(limit)
    {
    }
    const int atOnce;
    std::atomic<qint64> due{0}; // the owner's; the engine looks at it without being woken
    // The engine thread's own: the transfers on the line; the servers that answered one of
    // them that they were too busy, whose held transfers go only at their turns; and those
    // that sent one over a connection that carries several at once (HTTP/2), whose held
    // transfers go at once, beside the line.
    int onLine = 0;
    std::vector<QByteArray> busyServers;
    std::vector<QByteArray> sharingServers;
};

// How one transfer may go. The defaults are those of a download into a file.
struct TransferOptions {
    enum class Protocols {
        Files,    // http, https, ftp, ftps, for the address and for redirects
        WebPages, // http and https only
    };
    Protocols protocols = Protocols::Files;
    // A transfer that moves nothing for this long is given up (libcurl's low-speed limit, so
    // whole seconds, at least one).
    std::chrono::milliseconds stallTimeout = std::chrono::seconds(60);
    // A try whose speed stays under this floor ends and is followed by another.
    LowestSpeed lowestSpeed;
    // The whole transfer, all its tries together, must be over within this; zero for no limit.
    std::chrono::milliseconds deadline{0};
    // At most this many bytes are accepted; zero for no limit.
    qint64 maxSize = 0;
    // An interrupted transfer is tried again, continuing where it stopped when the server
    // allows it; tries that bring nothing wait this long, then twice, four and eight times
    // as long, and the fifth in a row ends the transfer.
    std::chrono::milliseconds retryWait = std::chrono::seconds(1);
    // Asks for a compressed body (the data arrives decoded). For pages, not for files.
    bool acceptEncoding = false;
    QByteArray userAgent; // Quorrin's own when empty
    // For a file: called on the engine's thread with the complete data, still in its part file
    // (readable at `partPath`), before it is put at the target. False keeps it from ever
    // reaching the target: the transfer fails with DownloadFailure::Rejected.
    std::function<bool(const QString &partPath)> acceptData;
    // For a file: when set, nothing that stands at the target is ever replaced, not even what
    // appeared there during the transfer; this names the next path to try instead, on the
    // engine's thread, given the one found taken. DownloadResult::path tells where the file
    // went.
    std::function<QString(const QString &taken)> freePath;
    // For a file: the data goes to the visible part file "<target>.part", which a transfer
    // stopped by stop(), or by the end of the process, leaves for a later transfer of the same
    // address to continue, when the server allows that.
    bool keepPartial = false;
    // With keepPartial: the caller knows that no part file of an earlier transfer is there, so
    // none is looked for; one that is there after all keeps its name.
    bool noEarlierPart = false;
    // For a file: the complete data waits in its part file, on its way to the disk, until
    // Transfer::land() says where it goes; until then the target given at the start only names
    // the part file.
    bool landLater = false;
    // For a file: called on a disk thread as soon as the complete file is at its target (the
    // path given), also when its Transfer was stopped or destroyed while it was landing.
    std::function<void(const QString &path)> landed;
    // For a file over HTTP(S): once its server has named its size and version and takes
    // requests for ranges, a large file may be fetched over several connections at once, each
    // asking for a range of that very version, while each one added raises the rate; a
    // connection far slower than the others gives its range back. A server gets at most 16
    // connections from the process at once, and a transfer that starts takes one back from
    // those splitting a file. Without it, one connection fetches the whole file.
    bool split = false;
    // A file of certificates that vouch for servers instead of the system's own, for a site
    // with a private authority; empty for the system's.
    QByteArray certificateAuthorities;
    // Where the transfer waits for its turn on a line shared with others, and its place in
    // the owner's order; none goes at once.
    std::shared_ptr<TransferLine> line;
    qint64 order = 0;
};

// One transfer under way, owned by the object that started it. It reports on the thread that
// started it, through the event loop; the network is served on the engine's own thread and
// the disk's waits (flushes, syncs, renames) on threads of their own, so the caller never
// waits on either. Only a new file is opened on the caller's thread, which costs what a look
// at the file system does and saves two trips between threads. Destroying it cancels it, or,
// when its file is already on its way to the target, lets that end unreported.
class Transfer : public QObject {
    Q_OBJECT
public:
    ~Transfer() override;

    // Stops the transfer now, unless its file is already being put at its target. True when
    // it stopped: its connection is closed, nothing stands at its target, no part file is
    // left (it goes in the background) and finished() is not emitted. False when the file was
    // already on its way to the target: finished() follows with what became of it. True once
    // it has finished without a file at its target.
    bool cancel();
    // Stops the transfer as cancel() does, but a download made with keepPartial leaves what
    // it has received in its part file, for a later download of the same address to go on.
    bool stop();
    // For a download made with landLater: the complete file goes to `target` (or, when that
    // is taken and the options name free paths, the next free one), at once when all the
    // data is there, else as soon as it is.
    void land(const QString &target);
    bool isRunning() const { return m_running; }

    // For a transfer into memory, once finished: the data received, and the server's
    // Content-Type (empty when it named none).
    const QByteArray &body() const { return m_body; }
    const QByteArray &contentType() const { return m_contentType; }

Q_SIGNALS:
    // A few times a second at most, with the bytes received (over every connection of the
    // transfer, and by an earlier one that it continues) and the announced total (0 when
    // unknown).
    void progress(qint64 received, qint64 total);
    // Once, when the transfer has ended; for a file, result.ok means the complete file is at
    // its target.
    void finished(const quorrin::DownloadResult &result);
    // For a download made with landLater: all its data has arrived and waits for land().
    // `multiplexed` when it came over a connection that carries several transfers at once
    // (HTTP/2 or later): its server takes more requests at once than a connection each.
    void arrived(bool multiplexed);
    // The server answered that it is too busy for this request, or refused another connection
    // for the same file; another try follows, or the transfer goes on with one connection.
    void serverBusy();

private:
    friend class QueuedObserver;
    friend Transfer *startDownload(const QString &, const QString &, TransferOptions, QObject *);
    friend Transfer *startFetch(const QString &, TransferOptions, QObject *);
    friend void landTogether(const std::vector<std::pair<Transfer *, QString>> &);
    explicit Transfer(QObject *parent);
    void start(const QString &url, const std::optional<QString> &path, TransferOptions options);
    void complete(const DownloadResult &result, QByteArray body, QByteArray contentType);
    bool halt(bool keepData);

    std::unique_ptr<engine::Observer> m_observer;
    std::shared_ptr<engine::Job> m_job;
    bool m_running = false;
    QByteArray m_body;
    QByteArray m_contentType;
};

// Starts downloading `url` into the file `path`, taken exactly as given, with the safe write
// of DownloadFile: the data goes to a part file beside the target, which is flushed and
// renamed onto the target only once complete. A target that cannot be written fails the
// transfer before anything is sent.
Transfer *startDownload(const QString &url, const QString &path, TransferOptions options,
                        QObject *parent);

// Lands downloads made with landLater, each at its target, in the order given, as land()
// would, and together where their data has all arrived: their data flushed, their names
// linked, each directory synced once for all of them.
void landTogether(const std::vector<std::pair<Transfer *, QString>> &landings);

// Removes, in the background, the part file that a download of `url` into `path`, made with
// keepPartial and stopped, left for a later one; after whatever that file was asked before.
void discardPartial(const QString &url, const QString &path);

// Closes the connections kept for later transfers, once no transfer is under way: their
// servers see them end.
void closeIdleConnections();

// Starts reading `url` into memory; more than options.maxSize bytes fail the transfer with
// DownloadFailure::TooLarge.
Transfer *startFetch(const QString &url, TransferOptions options, QObject *parent);

} // namespace quorrin
