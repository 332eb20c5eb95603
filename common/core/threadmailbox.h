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
    enum class Urgency {
        Now,       // the thread is woken for it
        WithOthers // it goes with the next call that wakes the thread, or with a few like it
    };
    // Calls that can wait wake the thread once this many of them wait.
    static constexpr int WaitingLimit = 8;

    // The calling thread's mailbox, made when none is in use.
    static std::shared_ptr<ThreadMailbox> ofThisThread();

    // From any thread: runs `call` on the mailbox's thread, unless `owner` withdraws it first.
    void put(const void *owner, std::function<void()> call, Urgency urgency = Urgency::Now);
    // On the mailbox's thread: the calls of `owner` that have not run yet never will.
    void withdraw(const void *owner);

private:
    struct Call {
        const void *owner;
        std::function<void()> run;
    };

    void deliver();

    std::mutex m_mutex;
    std::deque<Call> m_waiting;    // sent since the thread last took them
    bool m_woken = false;          // the thread is to take them
    int m_unhurried = 0;           // those of them that can wait
    std::deque<Call> m_delivering; // being run, one after the other
};

} // namespace quorrin
