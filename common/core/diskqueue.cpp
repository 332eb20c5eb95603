#include "diskqueue.h"

#include <QHash>
#include <QList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>
#include <vector>

namespace quorrin {
namespace {

class SerialQueue;

// The threads, and the queues that have a task waiting, in the order they got it.
class DiskThreads {
public:
    DiskThreads()
    {
        for (int i = 0; i < ThreadCount; ++i)
            m_threads.emplace_back([this] {
                pthread_setname_np(pthread_self(), "disk");
                serve();
            });
    }

    // Runs what is still queued, then lets the threads go.
    ~DiskThreads()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }

    void schedule(std::shared_ptr<SerialQueue> queue)
    {
        {
            const std::lock_guard lock(m_mutex);
            m_ready.push_back(std::move(queue));
        }
        m_wake.notify_one();
    }

private:
    // Enough for a few long flushes at once without starving the short tasks behind them.
    static constexpr int ThreadCount = 3;

    void serve();
    void requeue(std::shared_ptr<SerialQueue> queue);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::shared_ptr<SerialQueue>> m_ready;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

DiskThreads &threads()
{
    static DiskThreads instance;
    return instance;
}

// Runs its tasks one at a time: while one runs, or waits among the ready queues, the queue is
// scheduled, and only the thread that runs it schedules it again.
class SerialQueue : public DiskQueue, public std::enable_shared_from_this<SerialQueue> {
public:
    void post(std::function<void()> task) override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
            if (std::exchange(m_scheduled, true))
                return;
        }
        threads().schedule(shared_from_this());
    }

    bool runHere(const std::function<void()> &task) override
    {
        {
            const std::lock_guard lock(m_mutex);
            if (std::exchange(m_scheduled, true))
                return false;
        }
        task();
        {
            const std::lock_guard lock(m_mutex);
            m_scheduled = !m_tasks.empty();
            if (!m_scheduled)
                return true;
        }
        threads().schedule(shared_from_this());
        return true;
    }

    // Runs the first task; true when more are waiting.
    bool runOne()
    {
        std::function<void()> task;
        {
            const std::lock_guard lock(m_mutex);
            task = m_tasks.takeFirst();
        }
        task();
        const std::lock_guard lock(m_mutex);
        m_scheduled = !m_tasks.empty();
        return m_scheduled;
    }

private:
    std::mutex m_mutex;
    // Most queues serve one file for a few tasks: an empty QList, unlike a deque, holds no
    // memory.
    QList<std::function<void()>> m_tasks;
    bool m_scheduled = false;
};

void DiskThreads::serve()
{
    for (;;) {
        std::shared_ptr<SerialQueue> queue;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_ready.empty(); });
            if (m_ready.empty())
                return;
            queue = std::move(m_ready.front());
            m_ready.pop_front();
        }
        if (queue->runOne())
            requeue(std::move(queue));
    }
}

// This thread takes the next ready queue itself: another one is woken only for more.
void DiskThreads::requeue(std::shared_ptr<SerialQueue> queue)
{
    bool more = false;
    {
        const std::lock_guard lock(m_mutex);
        m_ready.push_back(std::move(queue));
        more = m_ready.size() > 1;
    }
    if (more)
        m_wake.notify_one();
}

} // namespace

std::shared_ptr<DiskQueue> newDiskQueue()
{
    threads(); // made before any queue, so that it outlives them all
    return std::make_shared<SerialQueue>();
}

std::shared_ptr<DiskQueue> diskQueueFor(const QString &key)
{
    static std::mutex mutex;
    static QHash<QString, std::weak_ptr<DiskQueue>> queues;
    const std::lock_guard lock(mutex);
    if (std::shared_ptr<DiskQueue> queue = queues.value(key).lock())
        return queue;
    if (queues.size() > 256)
        queues.removeIf([](const auto &entry) { return entry.value().expired(); });
    std::shared_ptr<DiskQueue> queue = newDiskQueue();
    queues.insert(key, queue);
    return queue;
}

} // namespace quorrin
