#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace quorrin {

// Calls that other threads send to run on one thread, through its event loop, in the order
// they came. The first call that finds none waiting wakes the thread; those sent before it
// gets to them ride along, where an event posted for each would wake it each time.
class ThreadMailbox : public QObject, public std::enable_shared_from_this<ThreadMailbox> {
public:
    // The calling thread's mailbox, made when none is in use.
    static std::shared_ptr<ThreadMailbox> ofThisThread();

    // From any thread: runs `call` on the mailbox's thread, unless `owner` withdraws it first.
    void put(const void *owner, std::function<void()> call);
    // On the mailbox's thread: the calls of `owner` that have not run yet never will.
    void withdraw(const void *owner);

private:
    struct Call {
        const void *owner;
        std::function<void()> run;
    };

    void deliver();

    std::mutex m_mutex;
    std::deque<Call> m_waiting;    // sent since the thread was last woken
    std::deque<Call> m_delivering; // being run, one after the other
};

} // namespace quorrin
