#include "threadmailbox.h"

#include <QMetaObject>

#include <utility>

namespace quorrin {

std::shared_ptr<ThreadMailbox> ThreadMailbox::ofThisThread()
{
    thread_local std::weak_ptr<ThreadMailbox> current;
    std::shared_ptr<ThreadMailbox> mailbox = current.lock();
    if (!mailbox) {
        mailbox = std::make_shared<ThreadMailbox>();
        current = mailbox;
    }
    return mailbox;
}

// The sender holds the mailbox while it sends; a mailbox destroyed before its thread is woken
// takes the wake-up with it, as a QObject does its posted events.
void ThreadMailbox::put(const void *owner, std::function<void()> call, Urgency urgency)
{
    bool wake = false;
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back({owner, std::move(call)});
        if (urgency == Urgency::WithOthers)
            ++m_unhurried;
        wake = !m_woken && (urgency == Urgency::Now || m_unhurried >= WaitingLimit);
        m_woken = m_woken || wake;
    }
    if (wake)
        QMetaObject::invokeMethod(this, &ThreadMailbox::deliver, Qt::QueuedConnection);
}

void ThreadMailbox::withdraw(const void *owner)
{
    const std::lock_guard lock(m_mutex);
    const auto ofOwner = [owner](const Call &call) { return call.owner == owner; };
    std::erase_if(m_waiting, ofOwner);
    std::erase_if(m_delivering, ofOwner);
}

// A call may withdraw later ones, or run an event loop of its own that delivers the rest: each
// is taken off only as it runs. Calls sent meanwhile wake the thread again, after the events
// already waiting. The mailbox outlives the delivery, even when a call destroys the last of its
// holders (an owner deleting its Transfer).
void ThreadMailbox::deliver()
{
    const std::shared_ptr<ThreadMailbox> self = shared_from_this();
    {
        const std::lock_guard lock(m_mutex);
        for (Call &call : m_waiting)
            m_delivering.push_back(std::move(call));
        m_waiting.clear();
        m_woken = false;
        m_unhurried = 0;
    }
    for (;;) {
        std::function<void()> run;
        {
            const std::lock_guard lock(m_mutex);
            if (m_delivering.empty())
                return;
            run = std::move(m_delivering.front().run);
            m_delivering.pop_front();
        }
        run();
    }
}

} // namespace quorrin
