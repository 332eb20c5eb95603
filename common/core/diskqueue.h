#pragma once

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
};

// A new queue on the process's disk threads.
std::shared_ptr<DiskQueue> newDiskQueue();

} // namespace quorrin
