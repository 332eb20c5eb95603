#include "transferengine.h"

#include "curlfailure.h"
#include "curlglobal.h"
#include "transferjob.h"
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

// Large reads keep the per-call overhead small on fast links; see bench/ for the figures.
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr auto ConnectTimeout = 30s;
// While transfers run, the engine looks at each of them this often, so that a stall is seen
// on time even when the line is quiet.
constexpr int ServiceIntervalMs = 50;
constexpr long MaxRedirects = 10;
constexpr char UserAgent[] = "Quorrin/" QUORRIN_VERSION;

// What a completed download records of where it came from: the address without its user
// name and password.
QByteArray originOf(const QByteArray &url)
{
    return QUrl::fromEncoded(url).adjusted(QUrl::RemoveUserInfo).toEncoded();
}

} // namespace

namespace {

std::mutex &shareMutex(curl_lock_data data)
{
    static std::mutex mutexes[CURL_LOCK_DATA_LAST];
    return mutexes[std::clamp(int(data), 0, int(CURL_LOCK_DATA_LAST) - 1)];
}

void lockShare(CURL *, curl_lock_data data, curl_lock_access, void *)
{
    shareMutex(data).lock();
}

void unlockShare(CURL *, curl_lock_data data, void *)
{
    shareMutex(data).unlock();
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
    void startTry(const std::shared_ptr<Job> &job);
    void startDueTries();
    int pollTimeout() const;
    void end(CURL *easy, CURLcode code);
    bool retry(Job &job, const DownloadResult &result);
    DownloadResult commit(Job &job) const;
    void remove(CURL *easy);
    DownloadResult outcome(CURLcode code, Job &job) const;

    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> m_multi{nullptr, curl_multi_cleanup};
    std::unique_ptr<CURLSH, decltype(&curl_share_cleanup)> m_share{nullptr, curl_share_cleanup};

    std::mutex m_mutex; // guards the three below
    std::vector<std::shared_ptr<Job>> m_incoming;
    std::vector<std::shared_ptr<Job>> m_dropped;
    bool m_stopping = false;

    // The engine thread's own: transfers on the line, and those waiting for their next try.
    std::map<CURL *, std::shared_ptr<Job>> m_running;
    std::vector<std::shared_ptr<Job>> m_waiting;
    std::thread m_thread;
};

Engine::Engine()
{
    initialiseCurl();
    m_multi.reset(curl_multi_init());
    // DNS answers and TLS sessions outlive each transfer's handle; connections stay in the
    // multi handle's cache.
    m_share.reset(curl_share_init());
    // A transfer's handle may be cleaned up on the thread that owned it.
    curl_share_setopt(m_share.get(), CURLSHOPT_LOCKFUNC, lockShare);
    curl_share_setopt(m_share.get(), CURLSHOPT_UNLOCKFUNC, unlockShare);
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
        startDueTries();
        int running = 0;
        curl_multi_perform(m_multi.get(), &running);
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &queued))
            if (message->msg == CURLMSG_DONE)
                end(message->easy_handle, message->data.result);
        // libcurl wakes sooner when one of its own timers is due.
        curl_multi_poll(m_multi.get(), nullptr, 0, pollTimeout(), nullptr);
    }
    m_waiting.clear();
    // The process ends: what is still under way is abandoned, leaving nothing behind but what
    // a later run is to continue.
    while (!m_running.empty()) {
        Job &job = *m_running.begin()->second;
        {
            const std::lock_guard lock(job.mutex);
            job.observer = nullptr;
            if (job.file && job.options.keepPartial)
                job.file->keep();
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
    for (const std::shared_ptr<Job> &job : dropped) {
        std::erase(m_waiting, job);
        if (job->easy)
            remove(job->easy.get());
    }
    for (const std::shared_ptr<Job> &job : incoming)
        begin(job);
}

void Engine::startDueTries()
{
    const Clock::time_point now = Clock::now();
    std::vector<std::shared_ptr<Job>> due;
    std::erase_if(m_waiting, [&](const std::shared_ptr<Job> &job) {
        if (job->retryAt > now)
            return false;
        due.push_back(job);
        return true;
    });
    for (const std::shared_ptr<Job> &job : due)
        startTry(job);
}

int Engine::pollTimeout() const
{
    if (!m_running.empty())
        return ServiceIntervalMs;
    int timeout = 60000;
    const Clock::time_point now = Clock::now();
    for (const std::shared_ptr<Job> &job : m_waiting) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(job->retryAt - now);
        timeout = std::clamp(int(wait.count()), 0, timeout);
    }
    return timeout;
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
    // An FTP connection left for reuse is closed later in the middle of another transfer,
    // and its farewell gets mixed into that one's answer.
    if (job->url.startsWith("ftp"))
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
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
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, job.get());
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressed);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, job.get());
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    job->started = Clock::now();
    if (options.maxSize > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxSize));
    if (options.acceptEncoding)
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    startTry(job);
}

// Each try after the first asks for what is missing of the file, when the server has said how
// to ask for exactly that file again; otherwise for the whole file.
void Engine::startTry(const std::shared_ptr<Job> &job)
{
    CURL *easy = job->easy.get();
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer)
            return;
        if (job->refetch)
            job->startOver();
        const qint64 held = job->received();
        const bool resumable = job->file && held > 0 && job->total > held;
        job->askedRange = resumable && (!job->validator.isEmpty() || job->tries > 0);
        if (job->file && held > 0 && !resumable && job->tries == 0)
            job->startOver(); // an earlier run's bytes that cannot be continued
        job->headers.reset();
        curl_easy_setopt(easy, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
        if (job->askedRange && job->isHttp() && !job->validator.isEmpty()) {
            const QByteArray range = QByteArray::number(held) + '-';
            curl_easy_setopt(easy, CURLOPT_RANGE, range.constData());
            job->headers.reset(
                curl_slist_append(nullptr, QByteArray("If-Range: " + job->validator).constData()));
        } else if (job->askedRange && !job->isHttp() && job->tries > 0) {
            curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(held));
        } else {
            job->askedRange = false;
        }
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job->headers.get());
        job->fitted = job->refetch = false;
        job->skip = 0;
        job->head = ResponseHead();
        job->abandoned = DownloadFailure::None;
        ++job->tries;
    }
    // The deadline holds for all the tries together.
    if (job->options.deadline > 0ms) {
        const auto left = job->options.deadline - (Clock::now() - job->started);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                         long(std::max<long long>(
                             1, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
    }
    job->lastReceived = -1;
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
    const std::shared_ptr<Job> job = found->second;
    remove(easy);
    const std::lock_guard lock(job->mutex);
    if (!job->observer)
        return;
    DownloadResult result = outcome(code, *job);
    if (!result.ok && retry(*job, result)) {
        m_waiting.push_back(job);
        return;
    }
    if (result.ok && job->file)
        result = commit(*job);
    if (!result.ok && job->tries > 1)
        result.cause += QStringLiteral(", après %1 essais").arg(job->tries);
    job->finish(result);
}

// Puts the complete file at its target, or, when the target must not be replaced and was
// taken meanwhile, at the next free path.
DownloadResult Engine::commit(Job &job) const
{
    PartFile &file = *job.file;
    if (job.options.acceptData && !job.options.acceptData(file.temporaryPath()))
        return failed(DownloadFailure::Rejected);
    const bool replace = !job.options.freePath;
    QString path = job.path;
    for (int attempt = 0; !file.commit(originOf(job.url), replace); ++attempt) {
        if (file.failure() != DownloadFailure::TargetTaken || attempt >= 100)
            return failed(file.failure());
        path = job.options.freePath(path);
        file.retarget(path);
    }
    DownloadResult result{true, {}, DownloadFailure::None, {}};
    result.path = path;
    return result;
}

// Whether the failed try is followed by another, and when. A try that brought new bytes is
// followed at once; tries that bring nothing wait longer and longer, and end after a few.
bool Engine::retry(Job &job, const DownloadResult &result)
{
    const bool refused = job.refetch || (job.askedRange && job.head.status == 416);
    if (!refused && !isRetryable(result.failure, job.head.status, job.reachedServer))
        return false;
    job.refetch = refused;
    const qint64 held = job.refetch ? 0 : job.received();
    job.reachedServer = job.reachedServer || job.head.status > 0;
    if (held > job.best) {
        job.best = held;
        job.fruitlessTries = 0;
        job.retryAt = Clock::now();
        return true;
    }
    if (++job.fruitlessTries >= MaxFruitlessTries)
        return false;
    job.retryAt = Clock::now() + (job.refetch ? std::chrono::milliseconds(0)
                                              : retryWait(job.fruitlessTries, job.head.retryAfter,
                                                          job.options.retryWait));
    return true;
}

// Removing an unfinished transfer closes its connection instead of keeping it for reuse.
void Engine::remove(CURL *easy)
{
    const auto found = m_running.find(easy);
    if (found == m_running.end())
        return;
    curl_multi_remove_handle(m_multi.get(), easy);
    m_running.erase(found);
}

DownloadResult Engine::outcome(CURLcode code, Job &job) const
{
    if (job.abandoned != DownloadFailure::None)
        return failed(job.abandoned);
    if (job.file && job.file->failure() != DownloadFailure::None)
        return failed(job.file->failure());
    CURL *easy = job.easy.get();
    // The status as the answer's own headers gave it: libcurl's may be another connection's,
    // when it closes an old FTP connection during this transfer.
    long status = job.head.status;
    if (status == 0)
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (code == CURLE_OPERATION_TIMEDOUT && job.options.deadline > 0ms &&
        Clock::now() - job.started >= job.options.deadline)
        return failed(DownloadFailure::TookTooLong);
    if (code != CURLE_OK) {
        long redirects = 0;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
        const DownloadFailure failure = failureOfCurl(code, redirects);
        return failed(failure, failure == DownloadFailure::HttpError ? status : long(code));
    }
    const bool http = job.isHttp();
    if (http && (status < 200 || status > 299))
        return failed(DownloadFailure::HttpError, status);
    // An empty answer was not checked as it arrived.
    if (!job.fitted && !fit(job))
        return failed(job.abandoned != DownloadFailure::None ? job.abandoned
                                                             : DownloadFailure::Interrupted);
    // A decoded body is longer than the announced, encoded one.
    if (!job.options.acceptEncoding && job.total >= 0 && job.received() != job.total)
        return failed(DownloadFailure::Interrupted);
    return {true, {}, DownloadFailure::None, {}};
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
        job->path = *path;
        job->file = job->options.keepPartial ? std::make_unique<PartFile>(*path, job->url)
                                             : std::make_unique<PartFile>(*path);
        if (!job->file->isOpen()) {
            job->finish(failed(job->file->failure()));
            return job;
        }
        // What an earlier run left is continued as bytes of this transfer's first try.
        job->validator = job->file->record().validator;
        job->total = job->file->record().total;
        job->best = job->file->size();
    }
    engine().submit(job);
    return job;
}

void cancel(const std::shared_ptr<Job> &job, bool keepData)
{
    if (!job)
        return;
    {
        const std::lock_guard lock(job->mutex);
        if (!job->observer)
            return;
        job->observer = nullptr;
        if (job->file && keepData)
            job->file->keep();
        job->file.reset();
    }
    engine().drop(job);
}

} // namespace quorrin::engine
