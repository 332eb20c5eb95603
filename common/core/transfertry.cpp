#include "transfertry.h"

#include "curlfailure.h"
#include "version.h"

#include <algorithm>
#include <utility>

namespace quorrin::engine {
namespace {

// A file this small is flushed whole when it lands, without the disk starting on it first.
constexpr qint64 SmallFile = 1 << 20;

using namespace std::chrono_literals;

// Large reads keep the per-call overhead small on fast links; see bench/ for the figures.
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr auto ConnectTimeout = 30s;
constexpr long MaxRedirects = 10;
constexpr char UserAgent[] = "Quorrin/" QUORRIN_VERSION;

void setUpConnection(CURL *easy, Job &job, CURLSH *share)
{
    const TransferOptions &options = job.options;
    const bool files = options.protocols == TransferOptions::Protocols::Files;
    const char *protocols = files ? "http,https,ftp,ftps" : "http,https";
    // What was asked for over TLS never continues in clear text.
    const bool secure = job.url.startsWith("https");
    const char *redirects = !secure ? protocols : files ? "https,ftps" : "https";
    curl_easy_setopt(easy, CURLOPT_URL, job.url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &job);
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // An FTP connection left for reuse is closed later in the middle of another transfer,
    // and its farewell gets mixed into that one's answer.
    if (job.url.startsWith("ftp"))
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, redirects);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeout / 1ms));
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.certificateAuthorities.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, options.certificateAuthorities.constData());
    // Transfers to a server that multiplexes share its one connection.
    if (secure)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT,
                     options.userAgent.isEmpty() ? UserAgent : options.userAgent.constData());
}

void setUpCallbacks(CURL *easy, Job &job)
{
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &job);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &job);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressed);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &job);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
}

// Asks for the bytes from `held` on where askedRange says so and the protocol can: HTTP with
// If-Range, for the version the validator names; FTP from this run's second try on. With the
// job's lock held.
void askFrom(Job &job, qint64 held)
{
    CURL *easy = job.easy.get();
    job.headers.reset();
    curl_easy_setopt(easy, CURLOPT_RANGE, nullptr);
    curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
    if (job.askedRange && job.isHttp() && !job.validator.isEmpty()) {
        // All of it held already (a run stopped just before it landed): one byte is enough
        // to learn whether it is still the server's file.
        const qint64 from = held == job.total ? held - 1 : held;
        const QByteArray range = QByteArray::number(from) + '-';
        curl_easy_setopt(easy, CURLOPT_RANGE, range.constData());
        job.headers.reset(
            curl_slist_append(nullptr, QByteArray("If-Range: " + job.validator).constData()));
    } else if (job.askedRange && !job.isHttp() && job.tries > 0) {
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(held));
    } else {
        job.askedRange = false;
    }
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job.headers.get());
}

// Each try after the first asks for what is missing of the file, when the server has said how
// to ask for exactly that file again; otherwise for the whole file. With the job's lock held.
void chooseRequest(Job &job)
{
    if (job.refetch)
        job.startOver();
    const qint64 held = job.received();
    const bool resumable = job.file && held > 0 && job.total >= held;
    job.askedRange = resumable && (!job.validator.isEmpty() || job.tries > 0);
    if (job.file && held > 0 && !resumable && job.tries == 0)
        job.startOver(); // an earlier run's bytes that cannot be continued
    askFrom(job, held);
    job.fitted = job.refetch = false;
    job.skip = 0;
    job.head = ResponseHead();
    job.abandoned = DownloadFailure::None;
    ++job.tries;
}

// The deadline holds for all the tries together.
void setDeadline(Job &job)
{
    if (job.options.deadline <= 0ms)
        return;
    const auto left = job.options.deadline - (Clock::now() - job.started);
    curl_easy_setopt(
        job.easy.get(), CURLOPT_TIMEOUT_MS,
        long(std::max<long long>(1, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
}

// The status as the answer's own headers gave it: libcurl's may be another connection's,
// when it closes an old FTP connection during this transfer.
long statusOf(Job &job)
{
    long status = job.head.status;
    if (status == 0)
        curl_easy_getinfo(job.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Whether the redirect that was refused led from https to an address without TLS.
bool leavesTls(Job &job)
{
    // libcurl has moved on to the address it refused.
    const char *where = nullptr;
    curl_easy_getinfo(job.easy.get(), CURLINFO_EFFECTIVE_URL, &where);
    const QByteArray next = QByteArray(where).toLower();
    return job.url.startsWith("https") && (next.startsWith("http:") || next.startsWith("ftp:"));
}

DownloadResult outcome(CURLcode code, Job &job)
{
    if (job.abandoned != DownloadFailure::None)
        return failed(job.abandoned);
    if (job.file && job.file->failure() != DownloadFailure::None)
        return failed(job.file->failure());
    const long status = statusOf(job);
    if (code == CURLE_OPERATION_TIMEDOUT && job.options.deadline > 0ms &&
        Clock::now() - job.started >= job.options.deadline)
        return failed(DownloadFailure::TookTooLong);
    if (code != CURLE_OK) {
        long redirects = 0;
        curl_easy_getinfo(job.easy.get(), CURLINFO_REDIRECT_COUNT, &redirects);
        DownloadFailure failure = failureOfCurl(code, redirects);
        if (failure == DownloadFailure::RedirectRefused && leavesTls(job))
            failure = DownloadFailure::InsecureRedirect;
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

// Whether the failed try is followed by another, and when. A try that brought new bytes is
// followed at once; tries that bring nothing wait longer and longer, and end after a few.
bool retry(Job &job, const DownloadResult &result)
{
    const bool refused = job.refetch || (job.askedRange && job.head.status == 416);
    if (!refused && !isRetryable(result.failure, job.head.status, job.reachedServer))
        return false;
    if (result.failure == DownloadFailure::TooSlow) {
        if (++job.slowTries >= MaxFruitlessTries)
            return false;
        job.freshConnection = true;
    }
    job.refetch = refused;
    if ((job.head.status == 429 || job.head.status == 503) && job.observer)
        job.observer->serverBusy();
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

QByteArray contentTypeOf(CURL *easy)
{
    const char *type = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
    return QByteArray(type);
}

} // namespace

void setUpHandle(Job &job, CURLSH *share)
{
    CURL *easy = job.easy.get();
    const TransferOptions &options = job.options;
    setUpConnection(easy, job, share);
    setUpCallbacks(easy, job);
    job.started = Clock::now();
    if (options.maxSize > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(options.maxSize));
    if (options.acceptEncoding)
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
}

bool setUpTry(Job &job)
{
    {
        const std::lock_guard lock(job.mutex);
        if (!job.observer)
            return false;
        chooseRequest(job);
    }
    setDeadline(job);
    curl_easy_setopt(job.easy.get(), CURLOPT_FRESH_CONNECT,
                     std::exchange(job.freshConnection, false) ? 1L : 0L);
    job.lastReceived = -1;
    // A transfer over within the first interval has no progress to tell.
    job.lastActivity = job.lastReport = job.speedSince = Clock::now();
    job.speedBytes = 0;
    return true;
}

bool endTry(Job &job, CURLcode code)
{
    const DownloadResult result = outcome(code, job);
    if (!result.ok && retry(job, result))
        return true;
    job.type = contentTypeOf(job.easy.get());
    if (!result.ok || !job.file) {
        job.finish(result);
        return false;
    }
    job.stage = Stage::Complete;
    long version = 0;
    curl_easy_getinfo(job.easy.get(), CURLINFO_HTTP_VERSION, &version);
    job.multiplexed = version >= CURL_HTTP_VERSION_2_0;
    // A small file with nothing to check waits for its target here: what the disk thread
    // would do for it costs more than the trip there.
    if (!job.landAt && !job.options.acceptData && job.file->size() < SmallFile) {
        job.ready = true;
        if (job.observer)
            job.observer->arrived(job.multiplexed);
        return false;
    }
    job.settle();
    return false;
}

} // namespace quorrin::engine
