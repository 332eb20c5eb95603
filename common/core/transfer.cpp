#include "transfer.h"

#include "transferengine.h"

#include <QMetaObject>

namespace quorrin {
namespace {

// Carries the engine's reports to the Transfer's own thread, through its event queue. Events
// still queued when the Transfer is destroyed are dropped with it.
class QueuedObserver : public engine::Observer {
public:
    explicit QueuedObserver(
        Transfer *owner, std::function<void(const DownloadResult &, QByteArray, QByteArray)> done,
        std::function<void(qint64, qint64)> moved)
        : m_owner(owner)
        , m_done(std::move(done))
        , m_moved(std::move(moved))
    {
    }

    bool progressed(qint64 received, qint64 total) override
    {
        QMetaObject::invokeMethod(
            m_owner, [moved = m_moved, received, total] { moved(received, total); },
            Qt::QueuedConnection);
        return true;
    }

    // The Transfer is destroyed before the process ends, or it has been leaked: nobody to tell.
    void abandoned() override {}

    void finished(const DownloadResult &result, QByteArray body, QByteArray contentType) override
    {
        QMetaObject::invokeMethod(
            m_owner,
            [done = m_done, result, body = std::move(body),
             contentType = std::move(contentType)]() mutable {
                done(result, std::move(body), std::move(contentType));
            },
            Qt::QueuedConnection);
    }

private:
    Transfer *m_owner;
    std::function<void(const DownloadResult &, QByteArray, QByteArray)> m_done;
    std::function<void(qint64, qint64)> m_moved;
};

} // namespace

Transfer::Transfer(QObject *parent)
    : QObject(parent)
{
}

Transfer::~Transfer()
{
    engine::forget(m_job);
}

void Transfer::start(const QString &url, const std::optional<QString> &path,
                     const TransferOptions &options)
{
    m_running = true;
    m_observer = std::make_unique<QueuedObserver>(
        this,
        [this](const DownloadResult &result, QByteArray body, QByteArray contentType) {
            complete(result, std::move(body), std::move(contentType));
        },
        [this](qint64 received, qint64 total) {
            if (m_running)
                Q_EMIT progress(received, total);
        });
    m_job = engine::start(url, path, options, m_observer.get());
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

Transfer *startDownload(const QString &url, const QString &path, const TransferOptions &options,
                        QObject *parent)
{
    auto *transfer = new Transfer(parent);
    transfer->start(url, path, options);
    return transfer;
}

Transfer *startFetch(const QString &url, const TransferOptions &options, QObject *parent)
{
    auto *transfer = new Transfer(parent);
    transfer->start(url, std::nullopt, options);
    return transfer;
}

} // namespace quorrin
