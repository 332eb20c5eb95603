#include "transfertry.h"

#include "curlfailure.h"
#include "piecepicker.h"
#include "version.h"

#include <algorithm>
#include <utility>

namespace quorrin::engine {
namespace {

using namespace std::chrono_literals;

// Large reads keep the per-call overhead small on fast links; see bench/ for the figures.
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr auto ConnectTimeout = 30s;
constexpr long MaxRedirects = 10;
constexpr char UserAgent[] = "Quorrin/" QUORRIN_VERSION;

// The variables libcurl reads for a proxy of the schemes the engine asks for.
bool proxyInEnvironment()
{
    for (const char *variable : {"http_proxy", "https_proxy", "HTTPS_PROXY", "ftp_proxy",
                                 "FTP_PROXY", "ftps_proxy", "FTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (!qEnvironmentVariableIsEmpty(variable))
            return true;
    return false;
}

// "bytes=<first>-<last>", or "bytes=<first>-" when the range reaches the file's end.
QByteArray rangeHeader(qint64 first, qint64 end, qint64 total)
{
    QByteArray range = QByteArray::number(first) + '-';
    if (end != total)
        range += QByteArray::number(end - 1);
    return range;
}

// Asks for the connection's range with If-Range, for the version the validator names: an
// answer of another version is then the whole new file. With the job's lock held.
void askResume(Job &job, Connection &connection)
{
    connection.ask = Connection::Ask::Resume;
    connection.askedRange = true;
    // All of it held already (a run stopped just before it landed): one byte is enough to
    // learn whether it is still the server's file.
    const qint64 from = connection.position == job.total ? job.total - 1 : connection.position;
    const QByteArray range = rangeHeader(from, connection.end, job.total);
    curl_easy_setopt(connection.easy.get(), CURLOPT_RANGE, range.constData());
    connection.headers.reset(
        curl_slist_append(nullptr, QByteArray("If-Range: " + job.validator).constData()));
}

// Asks for exactly the connection's range, only of the version held: If-Match with a strong
// ETag, If-Unmodified-Since with a date. With the job's lock held.
void askPiece(Job &job, Connection &connection)
{
    connection.ask = Connection::Ask::Piece;
    connection.askedRange = true;
    connection.asked = {connection.position, connection.end};
    const QByteArray range =
        QByteArray::number(connection.position) + '-' + QByteArray::number(connection.end - 1);
    curl_easy_setopt(connection.easy.get(), CURLOPT_RANGE, range.constData());
    const QByteArray condition = job.validator.startsWith('"')
                                     ? "If-Match: " + job.validator
                                     : "If-Unmodified-Since: " + job.validator;
    connection.headers.reset(curl_slist_append(nullptr, condition.constData()));
}

// A try of the job itself, on its only connection: what is missing of the file, when the
// server has said how to ask for exactly that file again; otherwise the whole file. HTTP asks
// for the largest missing range with If-Range, for the version the validator names; FTP goes
// on from this run's second try on. With the job's lock held.
void chooseRequest(Job &job, Connection &connection)
{
    if (job.refetch)
        job.startOver();
    const qint64 held = job.received();
    const bool resumable = job.file && held > 0 && job.total >= held;
    connection.askedRange = resumable && (!job.validator.isEmpty() || job.tries > 0);
    if (job.file && held > 0 && !resumable && job.tries == 0)
        job.startOver(); // an earlier run's bytes that cannot be continued
    connection.ask = Connection::Ask::Whole;
    connection.position = 0;
    connection.end = -1;
    const bool http = job.isHttp(connection);
    if (connection.askedRange && http && !job.validator.isEmpty()) {
        const std::optional<Piece> gap = nextPiece(job.total, job.file->held(), {}, 1);
        connection.position = gap ? gap->range.begin : job.total;
        connection.end = gap ? gap->range.end : job.total;
        askResume(job, connection);
    } else if (connection.askedRange && !http && job.tries > 0) {
        // An FTP file is only ever held from its first byte on.
        connection.position = held;
        connection.end = job.total;
        curl_easy_setopt(connection.easy.get(), CURLOPT_RESUME_FROM_LARGE, curl_off_t(held));
    } else {
        connection.askedRange = false;
    }
    job.refetch = false;
    ++job.tries;
}

// The request of a connection that the engine gave a range: exactly that range of the version
// held while other connections fetch the rest, else as a try of the job would ask for it.
void chooseAssigned(Job &job, Connection &connection)
{
    connection.assigned = false;
    if (job.othersActive(connection))
        askPiece(job, connection);
    else
        askResume(job, connection);
}

// The deadline holds for all the tries together.
void setDeadline(Job &job, Connection &connection)
{
    // A handle may come from a job with a deadline of its own.
    if (job.options.deadline <= 0ms) {
        curl_easy_setopt(connection.easy.get(), CURLOPT_TIMEOUT_MS, 0L);
        return;
    }
    const auto left = job.options.deadline - (Clock::now() - job.started);
    curl_easy_setopt(
        connection.easy.get(), CURLOPT_TIMEOUT_MS,
        long(std::max<long long>(1, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
}

// The status as the answer's own headers gave it: libcurl's may be another connection's,
// when it closes an old FTP connection during this transfer.
long statusOf(Connection &connection)
{
    long status = connection.head.status;
    if (status == 0)
        curl_easy_getinfo(connection.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Whether the redirect that was refused led from https to an address without TLS.
bool leavesTls(Job &job, Connection &connection)
{
    // libcurl has moved on to the address it refused.
    const char *where = nullptr;
    curl_easy_getinfo(connection.easy.get(), CURLINFO_EFFECTIVE_URL, &where);
    const QByteArray next = QByteArray(where).toLower();
    return job.url.startsWith("https") && (next.startsWith("http:") || next.startsWith("ftp:"));
}

DownloadResult outcome(CURLcode code, Job &job, Connection &connection)
{
    if (job.file && job.file->failure() != DownloadFailure::None)
        return failed(job.file->failure());
    // It stopped itself where its range ends.
    if (connection.reachedEnd)
        return {true, {}, DownloadFailure::None, {}};
    if (connection.abandoned != DownloadFailure::None)
        return failed(connection.abandoned);
    const long status = statusOf(connection);
    if (code == CURLE_OPERATION_TIMEDOUT && job.options.deadline > 0ms &&
        Clock::now() - job.started >= job.options.deadline)
        return failed(DownloadFailure::TookTooLong);
    if (code != CURLE_OK) {
        long redirects = 0;
        curl_easy_getinfo(connection.easy.get(), CURLINFO_REDIRECT_COUNT, &redirects);
        DownloadFailure failure = failureOfCurl(code, redirects);
        if (failure == DownloadFailure::RedirectRefused && leavesTls(job, connection))
            failure = DownloadFailure::InsecureRedirect;
        return failed(failure, failure == DownloadFailure::HttpError ? status : long(code));
    }
    const bool http = job.isHttp(connection);
    if (http && (status < 200 || status > 299))
        return failed(DownloadFailure::HttpError, status);
    // An empty answer was not checked as it arrived.
    if (!connection.fitted && !fit(job, connection))
        return failed(connection.abandoned != DownloadFailure::None ? connection.abandoned
                                                                    : DownloadFailure::Interrupted);
    // A decoded body is longer than the announced, encoded one.
    const bool incomplete = job.file ? connection.end >= 0 && connection.position != connection.end
                                     : job.total >= 0 && job.body.size() != job.total;
    if (!job.options.acceptEncoding && incomplete)
        return failed(DownloadFailure::Interrupted);
    return {true, {}, DownloadFailure::None, {}};
}

// The server said it was too busy: the job's owner hears it, and the line the job waited on
// keeps it in mind.
void tellBusy(Job &job)
{
    job.saidBusy = true;
    if (job.observer)
        job.observer->serverBusy();
}

// Whether the failed try is followed by another, and when. A try that brought new bytes is
// followed at once; tries that bring nothing wait longer and longer, and end after a few.
bool retry(Job &job, Connection &connection, const DownloadResult &result)
{
    const long status = connection.head.status;
    const bool piece = connection.ask == Connection::Ask::Piece;
    const bool refused = job.refetch || (connection.askedRange && !piece && status == 416);
    if (!refused && !isRetryable(result.failure, status, job.reachedServer))
        return false;
    if (result.failure == DownloadFailure::TooSlow) {
        if (++job.slowTries >= MaxFruitlessTries)
            return false;
        connection.freshConnection = true;
    }
    job.refetch = refused;
    // A piece's refusal was told when it came.
    if ((status == 429 || status == 503) && !piece)
        tellBusy(job);
    const qint64 held = job.refetch ? 0 : job.received();
    job.reachedServer = job.reachedServer || status > 0;
    if (held > job.best) {
        job.best = held;
        job.fruitlessTries = 0;
        job.retryAt = Clock::now();
        return true;
    }
    if (++job.fruitlessTries >= MaxFruitlessTries)
        return false;
    job.retryAt =
        Clock::now() + (job.refetch ? std::chrono::milliseconds(0)
                                    : retryWait(job.fruitlessTries, connection.head.retryAfter,
                                                job.options.retryWait));
    return true;
}

QByteArray contentTypeOf(CURL *easy)
{
    const char *type = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
    return QByteArray(type);
}

// Failures after which nothing more of the job is worth asking for.
bool endsTheJob(DownloadFailure failure)
{
    switch (failure) {
    case DownloadFailure::DiskFull:
    case DownloadFailure::WriteFailed:
    case DownloadFailure::PartFileReplaced:
    case DownloadFailure::TooLarge:
    case DownloadFailure::Cancelled:
    case DownloadFailure::TookTooLong:
        return true;
    default:
        return false;
    }
}

// What the failed request for a piece says of the server.
enum class PieceEnding {
    Interrupted,  // nothing against splitting: the rest goes back to the others
    Busy,         // the server will not take another connection now
    OtherVersion, // the file is not the one held any more
    Unsplittable, // the server does not answer requests for pieces of this file as asked
};

PieceEnding pieceEnding(const Connection &connection, CURLcode code, const DownloadResult &result)
{
    const long status = connection.head.status;
    if (connection.pieceFit == PieceFit::OtherVersion || status == 412)
        return PieceEnding::OtherVersion;
    if (connection.pieceFit == PieceFit::Unsplittable)
        return PieceEnding::Unsplittable;
    if (status == 429 || status == 503)
        return PieceEnding::Busy;
    // Refused, or cut before any answer: the server turned the connection away.
    if (status == 0 && (code == CURLE_COULDNT_CONNECT || code == CURLE_RECV_ERROR ||
                        code == CURLE_SEND_ERROR || code == CURLE_GOT_NOTHING))
        return PieceEnding::Busy;
    if (result.failure == DownloadFailure::HttpError && !isRetryable(result.failure, status, true))
        return PieceEnding::Unsplittable;
    return PieceEnding::Interrupted;
}

} // namespace

HandleKind handleKind(const Job &job)
{
    const TransferOptions &options = job.options;
    return {options.protocols,         job.url.startsWith("https"),
            job.url.startsWith("ftp"), options.certificateAuthorities,
            options.userAgent,         options.maxSize,
            options.acceptEncoding};
}

void setUpHandle(CURL *easy, const HandleKind &kind, CURLSH *share)
{
    const bool files = kind.protocols == TransferOptions::Protocols::Files;
    const char *protocols = files ? "http,https,ftp,ftps" : "http,https";
    // What was asked for over TLS never continues in clear text.
    const char *redirects = !kind.secure ? protocols : files ? "https,ftps" : "https";
    curl_easy_setopt(easy, CURLOPT_SHARE, share);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // An FTP connection left for reuse is closed later in the middle of another transfer,
    // and its farewell gets mixed into that one's answer.
    if (kind.ftp)
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
    if (!kind.certificateAuthorities.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, kind.certificateAuthorities.constData());
    // Transfers to a server that multiplexes share its one connection.
    if (kind.secure)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    // libcurl looks for a proxy in the environment before each request; where it names none,
    // the handle is told so once.
    if (!proxyInEnvironment()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
    }
    // libcurl copies the strings it is given.
    curl_easy_setopt(easy, CURLOPT_USERAGENT,
                     kind.userAgent.isEmpty() ? UserAgent : kind.userAgent.constData());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, progressed);
    if (kind.maxSize > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kind.maxSize));
    if (kind.acceptEncoding)
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
}

void attachHandle(Job &job, Connection &connection)
{
    CURL *easy = connection.easy.get();
    curl_easy_setopt(easy, CURLOPT_URL, job.url.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &connection);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &connection);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &connection);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &connection);
}

bool setUpTry(Job &job, Connection &connection)
{
    CURL *easy = connection.easy.get();
    {
        const std::lock_guard lock(job.mutex);
        if (!job.observer)
            return false;
        connection.headers.reset();
        curl_easy_setopt(easy, CURLOPT_RANGE, nullptr);
        curl_easy_setopt(easy, CURLOPT_RESUME_FROM_LARGE, curl_off_t(0));
        if (connection.assigned)
            chooseAssigned(job, connection);
        else
            chooseRequest(job, connection);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, connection.headers.get());
        connection.fitted = connection.reachedEnd = false;
        connection.skip = 0;
        connection.head = ResponseHead();
        connection.pieceFit.reset();
        connection.abandoned = DownloadFailure::None;
    }
    setDeadline(job, connection);
    // Its progress is followed again: taking it off the line silenced it.
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT,
                     std::exchange(connection.freshConnection, false) ? 1L : 0L);
    connection.lastReceived = -1;
    // A transfer over within the first interval has no progress to tell.
    connection.started = connection.lastActivity = connection.speedSince = Clock::now();
    connection.lastWrite.reset();
    connection.speedBytes = 0;
    return true;
}

TryEnd endTry(Job &job, Connection &connection, CURLcode code)
{
    const DownloadResult result = outcome(code, job, connection);
    if (result.ok) {
        job.type = contentTypeOf(connection.easy.get());
        if (job.file && job.total >= 0 && !job.file->held().contains({0, job.total}))
            return TryEnd::Done;
        if (!job.file) {
            job.finish(result);
            return TryEnd::Over;
        }
        job.stage = Stage::Complete;
        long version = 0;
        curl_easy_getinfo(connection.easy.get(), CURLINFO_HTTP_VERSION, &version);
        job.multiplexed = version >= CURL_HTTP_VERSION_2_0;
        // A small file with nothing to check waits for its target here: what the disk thread
        // would do for it costs more than the trip there.
        if (!job.landAt && !job.options.acceptData && job.file->size() < SmallFile) {
            job.ready = true;
            if (job.observer)
                job.observer->arrived(job.multiplexed, job.awaited());
            return TryEnd::Over;
        }
        job.settle();
        return TryEnd::Over;
    }
    // An answer that refused the bytes held (the file changed) stopped its own write.
    if (endsTheJob(result.failure) && !job.refetch) {
        job.finish(result);
        return TryEnd::Over;
    }
    const bool others = job.othersActive(connection);
    if (connection.ask == Connection::Ask::Piece) {
        switch (pieceEnding(connection, code, result)) {
        case PieceEnding::OtherVersion:
            // Nothing of it is mixed with what is held: the file comes again whole, on one
            // connection.
            job.split.allowed = false;
            job.refetch = true;
            if (retry(job, connection, result))
                return TryEnd::Restart;
            job.finish(result);
            return TryEnd::Over;
        case PieceEnding::Busy:
            job.split.allowed = false;
            tellBusy(job);
            if (others)
                return TryEnd::OneLeft;
            break; // the job's own retry
        case PieceEnding::Unsplittable:
            job.split.allowed = false;
            if (others)
                return TryEnd::GiveBack;
            // One connection asks for the rest as a try of the job does: a server that does
            // not split sends the whole file.
            job.retryAt = Clock::now();
            return TryEnd::Later;
        case PieceEnding::Interrupted:
            break;
        }
    }
    if (others)
        return TryEnd::GiveBack;
    if (retry(job, connection, result))
        return TryEnd::Later;
    job.finish(result);
    return TryEnd::Over;
}

} // namespace quorrin::engine
