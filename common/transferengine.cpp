#include "transferengine.h"

#include "curlglobal.h"
#include "partfile.h"
#include "urlencoding.h"
#include "version.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quorrin::engine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Large reads keep the per-call overhead small on fast links; see bench/ for the figures.
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr auto ConnectTimeout = 30s;
constexpr auto ProgressInterval = 100ms;
// While transfers run, the engine looks at each of them this often, so that a stall is seen
// on time even when the line is quiet.
constexpr int ServiceIntervalMs = 50;
constexpr long MaxRedirects = 10;
constexpr char UserAgent[] = "Quorrin/" QUORRIN_VERSION;

DownloadFailure failureOfCurl(CURLcode code, long redirects)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return redirects > 0 ? DownloadFailure::RedirectRefused
                             : DownloadFailure::UnsupportedAddress;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return DownloadFailure::HostNotFound;
    case CURLE_COULDNT_CONNECT:
        return DownloadFailure::ConnectionRefused;
    case CURLE_OPERATION_TIMEDOUT:
        return DownloadFailure::TimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return DownloadFailure::Interrupted;
    case CURLE_HTTP_RETURNED_ERROR:
        return DownloadFailure::HttpError;
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return DownloadFailure::RemoteFileNotFound;
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_ACCESS_DENIED:
        return DownloadFailure::AccessDenied;
    case CURLE_TOO_MANY_REDIRECTS:
        return DownloadFailure::TooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
        return DownloadFailure::CertificateRejected;
    case CURLE_SSL_CONNECT_ERROR:
        return DownloadFailure::SecureConnectionFailed;
    case CURLE_WRITE_ERROR:
        return DownloadFailure::WriteFailed;
    case CURLE_FILESIZE_EXCEEDED:
        return DownloadFailure::TooLarge;
    case CURLE_ABORTED_BY_CALLBACK:
        return DownloadFailure::Cancelled;
    default:
        return DownloadFailure::Other;
    }
}

DownloadResult failed(DownloadFailure failure, long detail = 0)
{
    return {false, failureCause(failure, detail), failure};
}

// What a completed download records of where it came from: the address without its user
// name and password.
QByteArray originOf(const QByteArray &url)
{
    return QUrl::fromEncoded(url).adjusted(QUrl::RemoveUserInfo).toEncoded();
}

} // namespace

struct Job {
    // Set before the job reaches the engine; read-only afterwards.
    QByteArray url;
    TransferOptions options;

    // Guards everything below: the engine's callbacks and cancel() take turns.
    std::mutex mutex;
    Observer *observer = nullptr; // null once cancelled or finished
    std::unique_ptr<PartFile> file;
    QByteArray body;
    DownloadFailure abandoned = DownloadFailure::None;

    // The engine thread's own.
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy{nullptr, curl_easy_cleanup};
    Clock::time_point lastActivity;
    Clock::time_point lastReport;
    curl_off_t lastReceived = -1;

    qint64 received() const { return file ? file->size() : body.size(); }
    // Tells the end once everything is in place: an uncommitted part file is gone by then.
    void finish(const DownloadResult &result)
    {
        file.reset();
        if (Observer *told = std::exchange(observer, nullptr))
            told->finished(result, std::move(body), contentType());
    }
    QByteArray contentType() const
    {
        const char *type = nullptr;
        if (easy)
            curl_easy_getinfo(easy.get(), CURLINFO_CONTENT_TYPE, &type);
        return QByteArray(type);
    }
};

namespace {

size_t receive(char *data, size_t, size_t count, void *userData)
{
    auto *job = static_cast<Job *>(userData);
    const std::lock_guard lock(job->mutex);
    if (!job->observer)
        return 0; // cancelled: 0 makes libcurl stop the transfer
    const qint64 maxSize = job->options.maxSize;
    if (maxSize > 0 && job->received() + qint64(count) > maxSize) {
        job->abandoned = DownloadFailure::TooLarge;
        return 0;
    }
    if (!job->file) {
        job->body.append(data, qsizetype(count));
        return count;
    }
    return job->file->write(data, count) ? count : 0;
}

// libcurl calls this for every running transfer each time the engine serves it, also while
// the line is quiet: it carries the progress reports and the stall limit.
int progressed(void *userData, curl_off_t total, curl_off_t received, curl_off_t, curl_off_t)
{
    auto *job = static_cast<Job *>(userData);
    const Clock::time_point now = Clock::now();
    if (received != job->lastReceived) {
        job->lastReceived = received;
        job->lastActivity = now;
    } else if (now - job->lastActivity >= job->options.stallTimeout) {
        const std::lock_guard lock(job->mutex);
        job->abandoned = DownloadFailure::Stalled;
        return 1;
    }
    if (now - job->lastReport < ProgressInterval)
        return 0;
    job->lastReport = now;
    const std::lock_guard lock(job->mutex);
    if (!job->observer)
        return 1;
    if (!job->observer->progressed(job->received(), total > 0 ? qint64(total) : 0)) {
        job->abandoned = DownloadFailure::Cancelled;
        return 1;
    }
    return 0;
}

class Engine {
public:
    Engine();
    ~Engine();
    void submit(std::shared_ptr<Job> job);
    void drop(const std::shared_ptr<Job> &job);

private:
    void serve();
    void takeCommands();
    void begin(const std::shared_ptr<Job> &job);
    void end(CURL *easy, CURLcode code);
    void remove(CURL *easy);
    DownloadResult outcome(CURLcode code, Job &job) const;

    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> m_multi{nullptr, curl_multi_cleanup};
    std::unique_ptr<CURLSH, decltype(&curl_share_cleanup)> m_share{nullptr, curl_share_cleanup};

    std::mutex m_mutex; // guards the three below
    std::vector<std::shared_ptr<Job>> m_incoming;
    std::vector<std::shared_ptr<Job>> m_dropped;
    bool m_stopping = false;

    std::map<CURL *, std::shared_ptr<Job>> m_running; // the engine thread's own
    std::thread m_thread;
};

Engine::Engine()
{
    initialiseCurl();
    m_multi.reset(curl_multi_init());
    // DNS answers and TLS sessions outlive each transfer's handle; connections stay in the
    // multi handle's cache. Only the engine's thread uses them, so the share needs no locks.
    m_share.reset(curl_share_init());
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_thread = std::thread([this] { serve(); });
}

Engine::~Engine()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    curl_multi_wakeup(m_multi.get());
    m_thread.join();
}

void Engine::submit(std::shared_ptr<Job> job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_incoming.push_back(std::move(job));
    }
    curl_multi_wakeup(m_multi.get());
}

void Engine::drop(const std::shared_ptr<Job> &job)
{
    {
        const std::lock_guard lock(m_mutex);
        m_dropped.push_back(job);
    }
    curl_multi_wakeup(m_multi.get());
}

void Engine::serve()
{
    for (;;) {
        takeCommands();
        {
            const std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
        }
        int running = 0;
        curl_multi_perform(m_multi.get(), &running);
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &queued))
            if (message->msg == CURLMSG_DONE)
                end(message->easy_handle, message->data.result);
        // libcurl wakes sooner when one of its own timers is due.
        curl_multi_poll(m_multi.get(), nullptr, 0, m_running.empty() ? 60000 : ServiceIntervalMs,
                        nullptr);
    }
    // The process ends: what is still under way is abandoned, leaving nothing behind.
    while (!m_running.empty()) {
        Job &job = *m_running.begin()->second;
        {
            const std::lock_guard lock(job.mutex);
            job.observer = nullptr;
            job.file.reset();
        }
        remove(job.easy.get());
    }
}

void Engine::takeCommands()
{
    std::vector<std::shared_ptr<Job>> incoming;
    std::vector<std::shared_ptr<Job>> dropped;
    {
        const std::lock_guard lock(m_mutex);
        incoming.swap(m_incoming);
        dropped.swap(m_dropped);
    }
    for (const std::shared_ptr<Job> &job : dropped)
        if (job->easy)
            remove(job->easy.get());
    for (const std::shared_ptr<Job> &job : incoming)
        begin(job);
}

void Engine::begin(const std::shared_ptr<Job> &job)
{
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer)
            return; // cancelled before it started
    }
    job->easy.reset(curl_easy_init());
    CURL *easy = job->easy.get();
    const TransferOptions &options = job->options;
    const char *protocols = options.protocols == TransferOptions::Protocols::Files
                                ? "http,https,ftp,ftps"
                                : "http,https";
    if (!easy || !m_multi) {
        const std::lock_guard lock(job->mutex);
        job->finish(failed(DownloadFailure::Other, long(CURLE_FAILED_INIT)));
        return;
    }
    curl_easy_setopt(easy, CURLOPT_URL, job->url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, job.get());
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share.get());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeout / 1ms));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT,
                     options.userAgent.isEmpty() ? UserAgent : options.userAgent.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, job.get());
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressed);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, job.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (options.deadline > 0ms)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(options.deadline / 1ms));
    if (options.maxSize > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxSize));
    if (options.acceptEncoding)
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    job->lastActivity = job->lastReport = Clock::now();
    job->lastReport -= ProgressInterval;
    if (curl_multi_add_handle(m_multi.get(), easy) != CURLM_OK) {
        const std::lock_guard lock(job->mutex);
        job->finish(failed(DownloadFailure::Other, long(CURLE_FAILED_INIT)));
        return;
    }
    m_running.emplace(easy, job);
}

void Engine::end(CURL *easy, CURLcode code)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end())
        return;
    Job &job = *found->second;
    {
        const std::lock_guard lock(job.mutex);
        if (job.observer) {
            DownloadResult result = outcome(code, job);
            if (result.ok && job.file) {
                if (job.options.acceptData && !job.options.acceptData(job.file->temporaryPath()))
                    result = failed(DownloadFailure::Rejected);
                else if (!job.file->commit(originOf(job.url)))
                    result = failed(job.file->failure());
            }
            job.finish(result);
        }
    }
    remove(easy);
}

// Removing an unfinished transfer closes its connection instead of keeping it for reuse.
void Engine::remove(CURL *easy)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end())
        return;
    curl_multi_remove_handle(m_multi.get(), easy);
    // The handle is cleaned up here, on the only thread that uses the share.
    found->second->easy.reset();
    m_running.erase(found);
}

DownloadResult Engine::outcome(CURLcode code, Job &job) const
{
    if (job.abandoned != DownloadFailure::None)
        return failed(job.abandoned);
    if (job.file && job.file->failure() != DownloadFailure::None)
        return failed(job.file->failure());
    CURL *easy = job.easy.get();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OPERATION_TIMEDOUT && job.options.deadline > 0ms) {
        curl_off_t elapsed = 0;
        curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &elapsed);
        if (std::chrono::microseconds(elapsed) >= job.options.deadline)
            return failed(DownloadFailure::TookTooLong);
    }
    if (code != CURLE_OK) {
        long redirects = 0;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
        const DownloadFailure failure = failureOfCurl(code, redirects);
        return failed(failure, failure == DownloadFailure::HttpError ? status : long(code));
    }
    const char *scheme = nullptr;
    curl_easy_getinfo(easy, CURLINFO_SCHEME, &scheme);
    const bool http = scheme && QByteArray(scheme).toLower().startsWith("http");
    if (http && (status < 200 || status > 299))
        return failed(DownloadFailure::HttpError, status);
    // A decoded body is longer than the announced, encoded one.
    curl_off_t announced = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    if (!job.options.acceptEncoding && announced > 0 && job.received() != qint64(announced))
        return failed(DownloadFailure::Interrupted);
    return {true, QString(), DownloadFailure::None};
}

Engine &engine()
{
    static Engine instance;
    return instance;
}

} // namespace

std::shared_ptr<Job> start(const QString &url, const std::optional<QString> &path,
                           TransferOptions options, Observer *observer)
{
    auto job = std::make_shared<Job>();
    job->options = std::move(options);
    job->options.stallTimeout = std::max(job->options.stallTimeout, std::chrono::milliseconds(1));
    job->observer = observer;
    job->url = percentEncodedUrl(url);
    const QString scheme = QString::fromLatin1(job->url.left(job->url.indexOf(':')));
    const bool webPage = job->options.protocols == TransferOptions::Protocols::WebPages;
    const bool allowed =
        isDownloadScheme(scheme) && (!webPage || scheme.compare(QLatin1String("http")) == 0 ||
                                     scheme.compare(QLatin1String("https")) == 0);
    const std::lock_guard lock(job->mutex);
    if (job->url.isEmpty() || !allowed) {
        job->finish(failed(DownloadFailure::UnsupportedAddress));
        return job;
    }
    if (path) {
        job->file = std::make_unique<PartFile>(*path);
        if (!job->file->isOpen()) {
            job->finish(failed(job->file->failure()));
            return job;
        }
    }
    engine().submit(job);
    return job;
}

void cancel(const std::shared_ptr<Job> &job)
{
    if (!job)
        return;
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer)
            return;
        job->observer = nullptr;
        job->file.reset();
    }
    engine().drop(job);
}

} // namespace quorrin::engine
