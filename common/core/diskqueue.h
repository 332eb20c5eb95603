#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace quorrin {

// Work that waits on the disk (flushes, renames, attributes) runs on a few threads of its own,
// so that neither the window nor the thread that serves the network waits for it. Tasks posted
// to one queue run one after another, in order; tasks of different queues run side by side,
// so one file's long flush does not hold up another's. Tasks still queued when the process
// ends are run before it does.
class DiskQueue {
public:
    virtual ~DiskQueue() = default;
    virtual void post(std::function<void()> task) = 0;
    // Runs `task` on the calling thread, in its place on the queue, when nothing of the queue
    // waits or runs; false, without running it, otherwise. Posts meanwhile run after it.
    virtual bool runHere(const std::function<void()> &task) = 0;
};

// A new queue on the process's disk threads.
std::shared_ptr<DiskQueue> newDiskQueue();

// The queue of the work on `key` (a file's path): while one lives, work on the same file goes
// there, after what came before it, so that letting a file go always precedes taking it again.
std::shared_ptr<DiskQueue> diskQueueFor(const QString &key);

} // namespace quorrin
