#pragma once

#include "directorynames.h"
#include "filedownload.h"
#include "freenames.h"
#include "interruptedrun.h"
#include "runrecorder.h"
#include "transfer.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

namespace quorrin::downloader {

// One entry of a run, as the queue holds it: its row text, its address as pasted, its stored
// path.
using RunEntry = InterruptedEntry;

// A run over the queue: every entry in turn, in queue order, each with its target prepared
// (directories made, a free name chosen) at its turn, as if the entries went one after the
// other. Behind the entry whose turn it is, the next ones already transfer into their part
// files, a few at once, so that the line stays busy; what they bring lands at their turn,
// and what befalls them is told at their turn too. The reports are in queue order: an
// entry's turn begins, its errors, the path it uses, its turn ends, and the run ends.
class BatchRun : public QObject {
    Q_OBJECT
public:
    // Transfers under way at once over connections of their own, in all; browsers open six
    // connections to a host.
    static constexpr int MaxTransfers = 6;
    // Transfers started behind those, waiting in the engine: the next goes on the line the
    // moment one has all its data, without a trip to this thread. They are started again
    // once half have gone, several with one wake of the engine. Small files go through the
    // line faster than this thread hears of them while it is busy: with twice the line held,
    // the engine ran dry thousands of times in a long queue.
    static constexpr int MaxHeld = 8 * MaxTransfers;
    // Entries ahead of the turn that may hold a part file open; also the transfers at once to
    // a server that carries several over one connection (HTTP/2), as browsers keep up to the
    // server's limit of streams. libcurl puts at most 100 on a connection and opens another
    // for more, with a handshake of its own.
    static constexpr int MaxAhead = 96;

    explicit BatchRun(QList<RunEntry> entries, QObject *parent = nullptr);
    ~BatchRun() override;

    // How each transfer may go; the run sets what concerns the part files and the targets.
    TransferOptions transferOptions;

    // Keeps `recorder`'s record of the run: all its entries from the start, each marked as it
    // ends (a file that lands, the moment it is at its name, even after the run was stopped),
    // none once the run is over or stopped for good. A run stopped to be continued leaves it
    // for the next start. The recorder outlives the run's start and its stops for good.
    void keepRecord(RunRecorder *recorder) { m_recorder = recorder; }
    // Starts with the first entry's turn; reports begin at once.
    void start();
    // Ends the run where it stands and tells nothing more. Every transfer stops at once;
    // with `keepData`, part files stay for a later run to continue, else nothing of the
    // run's entries is left but the files that had landed (or were landing), and no
    // connection stays open.
    void stop(bool keepData);
    bool isRunning() const { return m_running; }

Q_SIGNALS:
    void turnBegins(int entry);
    // A step of the entry went wrong; the run goes on.
    void entryFailed(int entry, const QString &cause);
    // The path the entry uses: its free name once chosen, then where its file landed.
    void entryPath(int entry, const QString &path);
    // The transfer of the entry whose turn it is, a few times a second.
    void progress(qint64 received, qint64 total);
    void turnEnds(int entry);
    void finished();

private:
    enum class State : quint8 { Waiting, Transferring, Arrived, Ended };
    // What an entry holds while it is near the turn; a queue may hold tens of thousands of
    // entries, which each keep only their Slot before and after.
    struct Near {
        QString cleanPath;                   // the stored path, spelt one way
        std::size_t pathKey = 0;             // its hash, to tell most other paths apart at once
        int host = -1;                       // its server, as an index in m_hosts
        QString partTarget;                  // what its part file is named after
        QString target;                      // where a grouped one lands
        std::optional<DownloadResult> early; // how it ended before its turn
    };
    struct Slot {
        State state = State::Waiting;
        bool parked = false;  // stopped for a busy host: its part file waits
        bool grouped = false; // landing with an earlier entry's group
        Transfer *transfer = nullptr;
        std::unique_ptr<Near> near;
    };

    void beginTurns();
    bool beginTurn();
    void endTurn(bool landed);
    void endTurn(const DownloadResult &result);
    DownloadTarget prepare(int index);
    void landGroup(int first, const QString &target);
    Result<bool> landingOrExists(const QString &path) const;
    Result<bool> nameTaken(const QString &path);
    void abandon(int index);
    void schedule();
    bool mayStartEarly(int index);
    void startTransfer(int index);
    void followProgress(int index);
    void transferEnded(int index, const DownloadResult &result);
    void serverBusy(int index);
    // Most calls find it made: they need no call.
    Near &near(int index)
    {
        const std::unique_ptr<Near> &made = m_slots[std::size_t(index)].near;
        return made ? *made : makeNear(index);
    }
    Near &makeNear(int index);
    int hostIndex(const QString &address);
    int firstOnHost(int host);
    void makeWay(int index);
    void release(int index);
    void deleteReleased();

    static constexpr std::chrono::milliseconds ReaperDelay{10};

    QList<RunEntry> m_entries;
    std::vector<Slot> m_slots;
    QStringList m_hosts;     // the servers, with their ports, of the entries looked at
    QString m_lastAuthority; // the scheme and authority of the last address looked at
    int m_lastHost = -1;     // and its server
    int m_turn = 0;
    bool m_running = false;
    bool m_inTurns = false;
    RunRecorder *m_recorder = nullptr;
    RunRecorder::EndMark m_ended;       // marks an entry of the record as ended
    QString m_shownPath;                // the path the turn's entry shows
    QSet<QString> m_claimed;            // part targets of the transfers under way
    QSet<QString> m_landing;            // targets of the grouped entries that are landing
    QSet<QString> m_directories;        // the holding directories found, to go early into
    std::vector<Transfer *> m_released; // transfers that ended, to be deleted
    QTimer m_reaper;                    // deletes them soon after
    DirectoryNames m_names;             // the names of the targets' directories
    FreeNames m_targetNames;            // the numbered targets chosen at the turns
    QSet<int> m_oneAtATime;             // hosts that said they were too busy
    QSet<int> m_multiplexed;            // hosts that carry several transfers over one connection
    // The transfers over connections of their own, MaxTransfers at a time; the turn's goes at
    // once.
    std::shared_ptr<TransferLine> m_line = std::make_shared<TransferLine>(MaxTransfers);

public:
    // Adds `entries` after the last one while the run goes: each is transferred, lands and is
    // reported at its turn, as if it had been queued from the start, and the run's record
    // names it at once. False, adding nothing, before the run starts and once it has finished
    // or stopped: its last turn has ended, and what comes next is another run.
    bool append(QList<RunEntry> entries);
};

} // namespace quorrin::downloader
