#include "transfer.h"

#include "threadmailbox.h"
#include "transferengine.h"

namespace quorrin {

// Carries the engine's reports to the Transfer's own thread, through its mailbox. Reports
// still waiting when the Transfer is destroyed are dropped with it, and reports of a transfer
// that was stopped are not news any more.
class QueuedObserver : public engine::Observer {
public:
    explicit QueuedObserver(Transfer *owner)
        : m_owner(owner)
        , m_mailbox(ThreadMailbox::ofThisThread())
    {
    }

    ~QueuedObserver() override { m_mailbox->withdraw(m_owner); }

    bool progressed(qint64 received, qint64 total) override
    {
        tell([received, total](Transfer *owner) { Q_EMIT owner->progress(received, total); });
        return true;
    }

    // An arrival ahead of its turn only makes room on the line, which holds a few more
    // transfers than a delivery's worth of those: it need not wake the owner's thread.
    void arrived(bool multiplexed, bool awaited) override
    {
        tell([multiplexed](Transfer *owner) { Q_EMIT owner->arrived(multiplexed); },
             awaited ? ThreadMailbox::Urgency::Now : ThreadMailbox::Urgency::WithOthers);
    }

    void serverBusy() override
    {
        tell([](Transfer *owner) { Q_EMIT owner->serverBusy(); });
    }

    // The Transfer is destroyed before the process ends, or it has been leaked: nobody to tell.
    void abandoned() override {}

    void finished(const DownloadResult &result, QByteArray body, QByteArray contentType) override
    {
        m_mailbox->put(m_owner, [owner = m_owner, result, body = std::move(body),
                                 contentType = std::move(contentType)]() mutable {
            owner->complete(result, std::move(body), std::move(contentType));
        });
    }

private:
    template <typename Report>
    void tell(Report report, ThreadMailbox::Urgency urgency = ThreadMailbox::Urgency::Now)
    {
        m_mailbox->put(
            m_owner,
            [owner = m_owner, report] {
                if (owner->isRunning())
                    report(owner);
            },
            urgency);
    }

    Transfer *m_owner;
    std::shared_ptr<ThreadMailbox> m_mailbox;
};

Transfer::Transfer(QObject *parent)
    : QObject(parent)
{
}

Transfer::~Transfer()
{
    engine::forget(m_job);
}

void Transfer::start(const QString &url, const std::optional<QString> &path,
                     TransferOptions options)
{
    m_running = true;
    m_observer = std::make_unique<QueuedObserver>(this);
    m_job = engine::start(url, path, std::move(options), m_observer.get());
}

bool Transfer::cancel()
{
    return halt(false);
}

bool Transfer::stop()
{
    return halt(true);
}

bool Transfer::halt(bool keepData)
{
    if (!m_running)
        return true;
    if (!engine::cancel(m_job, keepData))
        return false; // its file is landing: finished() tells how that went
    m_running = false;
    return true;
}

void Transfer::land(const QString &target)
{
    if (m_running)
        engine::land(m_job, target);
}

void Transfer::complete(const DownloadResult &result, QByteArray body, QByteArray contentType)
{
    // A report that was on its way when the transfer was cancelled is not news any more.
    if (!m_running)
        return;
    m_running = false;
    m_body = std::move(body);
    m_contentType = std::move(contentType);
    Q_EMIT finished(result);
}

Transfer *startDownload(const QString &url, const QString &path, TransferOptions options,
                        QObject *parent)
{
    auto *transfer = new Transfer(parent);
    transfer->start(url, path, std::move(options));
    return transfer;
}

void landTogether(const std::vector<std::pair<Transfer *, QString>> &landings)
{
    std::vector<std::pair<std::shared_ptr<engine::Job>, QString>> jobs;
    for (const auto &[transfer, target] : landings)
        if (transfer->m_running)
            jobs.emplace_back(transfer->m_job, target);
    engine::landTogether(jobs);
}

void discardPartial(const QString &url, const QString &path)
{
    engine::discardPartial(url, path);
}

void closeIdleConnections()
{
    engine::closeIdleConnections();
}

Transfer *startFetch(const QString &url, TransferOptions options, QObject *parent)
{
    auto *transfer = new Transfer(parent);
    transfer->start(url, std::nullopt, std::move(options));
    return transfer;
}

} // namespace quorrin
