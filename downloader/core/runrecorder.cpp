#include "runrecorder.h"

#include "diskqueue.h"
#include "interruptedrunrecord.h"

#include <mutex>
#include <optional>
#include <utility>

namespace quorrin::downloader {

// What the writes on the disk queue share with the window; it outlives either of them.
struct RunRecorder::Shared {
    explicit Shared(const QString &dataDirectory)
        : record(dataDirectory)
    {
    }

    // Writes what is pending until nothing is.
    void writePending()
    {
        for (;;) {
            QList<InterruptedEntry> entries;
            {
                const std::lock_guard lock(mutex);
                if (!pending) {
                    writing = false;
                    return;
                }
                entries = std::exchange(pending, std::nullopt)->mid(from);
            }
            record.write(entries);
        }
    }

    const InterruptedRunRecord record;
    std::mutex mutex;
    std::optional<QList<InterruptedEntry>> pending;
    qsizetype from = 0;
    bool writing = false;
};

RunRecorder::RunRecorder(const QString &dataDirectory)
    : m_shared(std::make_shared<Shared>(dataDirectory))
    , m_disk(newDiskQueue())
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

void RunRecorder::save(QList<InterruptedEntry> entries, qsizetype from)
{
    if (!owned())
        return;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->pending = std::move(entries);
        m_shared->from = from;
        if (std::exchange(m_shared->writing, true))
            return;
    }
    m_disk->post([shared = m_shared] { shared->writePending(); });
}

} // namespace quorrin::downloader
