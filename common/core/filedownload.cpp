#include "filedownload.h"

#include "transferengine.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace quorrin {
namespace {

// Hands the engine's reports to a caller that waits for the end.
class WaitingObserver : public engine::Observer {
public:
    explicit WaitingObserver(const FileDownloader::Progress &progress)
        : m_progress(progress)
    {
    }

    bool progressed(qint64 received, qint64 total) override
    {
        return !m_progress || m_progress(received, total);
    }

    void finished(const DownloadResult &result, QByteArray, QByteArray) override
    {
        const std::lock_guard lock(m_mutex);
        m_result = result;
        m_done = true;
        m_ended.notify_all();
    }

    void abandoned() override
    {
        finished({false, failureCause(DownloadFailure::Cancelled), DownloadFailure::Cancelled, {}},
                 {}, {});
    }

    DownloadResult wait()
    {
        std::unique_lock lock(m_mutex);
        m_ended.wait(lock, [this] { return m_done; });
        return m_result;
    }

private:
    const FileDownloader::Progress &m_progress;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    DownloadResult m_result;
};

} // namespace

DownloadResult FileDownloader::download(const QString &url, const QString &path,
                                        const Progress &progress)
{
    TransferOptions options;
    options.stallTimeout = m_stallTimeout;
    options.retryWait = m_retryWait;
    options.lowestSpeed = m_lowestSpeed;
    WaitingObserver observer(progress);
    const std::shared_ptr<engine::Job> job = engine::start(url, path, options, &observer);
    return observer.wait();
}

namespace {

// Downloads through the process-wide downloader happen one at a time.
std::mutex &moduleMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::atomic<bool> &lastOk()
{
    static std::atomic<bool> ok{false};
    return ok;
}

} // namespace

DownloadResult DownloadToFile(const QString &url, const QString &path)
{
    const std::lock_guard lock(moduleMutex());
    static FileDownloader downloader;
    DownloadResult result = downloader.download(url, path);
    lastOk() = result.ok;
    return result;
}

bool DownloadFile(const QString &url, const QString &path)
{
    return DownloadToFile(url, path).ok;
}

bool lastDownloadOk()
{
    return lastOk();
}

} // namespace quorrin
