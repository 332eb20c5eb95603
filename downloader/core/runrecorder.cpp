#include "runrecorder.h"

#include "diskqueue.h"
#include "interruptedrunrecord.h"

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
            written = false;
            waiting.clear();
        }
        disk->post([this, self = shared_from_this(), current, entries = std::move(entries)] {
            const bool ok = bool(record.write(entries)) && !entries.isEmpty();
            const std::lock_guard lock(mutex);
            if (current != generation || !ok)
                return;
            written = true;
            appendNow(std::exchange(waiting, {}));
        });
        return current;
    }

    // Lines of generation `of`; none for the current one.
    void log(std::optional<quint64> of, const QByteArray &line)
    {
        const std::lock_guard lock(mutex);
        if (of && *of != generation)
            return;
        if (written)
            appendNow(line);
        else
            waiting += line;
    }

    // Appended at once, so that a kill right after an entry ends does not bring it back; the
    // disk confirms it a little later, once for many lines.
    void appendNow(const QByteArray &lines)
    {
        if (lines.isEmpty() || !record.append(lines))
            return;
        if (std::exchange(syncDue, true))
            return;
        disk->post([this, self = shared_from_this()] {
            {
                const std::lock_guard lock(mutex);
                syncDue = false;
            }
            static_cast<void>(record.sync());
        });
    }

    const InterruptedRunRecord record;
    const std::shared_ptr<DiskQueue> disk;
    std::mutex mutex; // guards what follows, and every append
    quint64 generation = 0;
    bool written = false; // the generation's entries are on disk
    QByteArray waiting;   // its log lines until then
    bool syncDue = false;
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
