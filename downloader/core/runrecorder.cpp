#include "runrecorder.h"

#include "diskqueue.h"
#include "interruptedrunrecord.h"
#include "landingbatch.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <utility>

namespace quorrin::downloader {

// What the disk queue, the threads that mark entries ended and the window share; it outlives
// each of them.
//
// Each run is a generation of the record: its entries are written whole, and from then on its
// log lines are appended. Lines of a generation wait until its entries are on disk; those of
// an earlier generation are dropped.
struct RunRecorder::Shared : std::enable_shared_from_this<Shared> {
    explicit Shared(const QString &dataDirectory, std::shared_ptr<DiskQueue> queue)
        : record(dataDirectory)
        , disk(std::move(queue))
    {
    }

    // A new generation: `entries`, or no record at all when there are none.
    quint64 renew(QList<InterruptedEntry> entries)
    {
        quint64 current = 0;
        {
            const std::lock_guard lock(mutex);
            current = ++generation;
            file.reset();
            waiting.clear();
            pending.clear();
        }
        disk->post([this, self = shared_from_this(), current, entries = std::move(entries)] {
            const bool ok = bool(record.write(entries)) && !entries.isEmpty();
            std::shared_ptr<AppendFile> opened = ok ? record.openLog() : nullptr;
            const std::lock_guard lock(mutex);
            if (current != generation || !opened || !opened->failure().isEmpty())
                return;
            file = std::move(opened);
            appendNow(std::exchange(waiting, {}));
        });
        return current;
    }

    // Lines of generation `of`; none for the current one. Those of files that land together
    // are appended together, before the owners hear of the landings.
    void log(std::optional<quint64> of, const QByteArray &line)
    {
        const bool together = LandingBatch::isOpen();
        {
            const std::lock_guard lock(mutex);
            if (of && *of != generation)
                return;
            if (!file) {
                waiting += line;
                return;
            }
            pending += line;
            if (!together) {
                appendNow(std::exchange(pending, {}));
                return;
            }
        }
        // The first of these appends them all.
        LandingBatch::defer([self = shared_from_this()] {
            const std::lock_guard lock(self->mutex);
            if (self->file)
                self->appendNow(std::exchange(self->pending, {}));
        });
    }

    // Appended at once, so that a kill right after an entry ends does not bring it back. The
    // disk confirms the lines a little later, once a second at most: a line lost to a power
    // cut only brings back an entry whose file is there, which lands again under a number.
    void appendNow(const QByteArray &lines)
    {
        if (lines.isEmpty() || !file->append(lines))
            return;
        const auto now = std::chrono::steady_clock::now();
        if (syncDue || now - lastSync < std::chrono::seconds(1))
            return;
        syncDue = true;
        lastSync = now;
        disk->post([this, self = shared_from_this(), log = file] {
            static_cast<void>(log->sync());
            const std::lock_guard lock(mutex);
            syncDue = false;
        });
    }

    const InterruptedRunRecord record;
    const std::shared_ptr<DiskQueue> disk;
    std::mutex mutex; // guards what follows, and every append
    quint64 generation = 0;
    std::shared_ptr<AppendFile> file; // the generation's log, once its entries are on disk
    QByteArray waiting;               // its log lines until then
    QByteArray pending;               // and after, until the landings told together are told
    bool syncDue = false;
    std::chrono::steady_clock::time_point lastSync;
};

RunRecorder::RunRecorder(const QString &dataDirectory)
    : m_shared(std::make_shared<Shared>(dataDirectory, newDiskQueue()))
{
}

RunRecorder::~RunRecorder() = default;

bool RunRecorder::owned() const
{
    return m_shared->record.owned();
}

QList<InterruptedEntry> RunRecorder::interruptedEntries() const
{
    return m_shared->record.read();
}

RunRecorder::EndMark RunRecorder::begin(const QList<InterruptedEntry> &entries)
{
    if (!owned())
        return [](int) {};
    const quint64 generation = m_shared->renew(entries);
    return
        [shared = m_shared, generation](int index) { shared->log(generation, loggedEnd(index)); };
}

void RunRecorder::extend(const QList<InterruptedEntry> &entries)
{
    if (!owned())
        return;
    QByteArray lines;
    for (const InterruptedEntry &entry : entries)
        lines += loggedEntry(entry);
    m_shared->log(std::nullopt, lines);
}

void RunRecorder::clear()
{
    if (owned())
        m_shared->renew({});
}

} // namespace quorrin::downloader
