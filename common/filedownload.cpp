#include "filedownload.h"

#include "curlglobal.h"
#include "partfile.h"
#include "urlencoding.h"
#include "version.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace quorrin {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Large reads keep the per-call overhead small on fast links; see bench/ for the figures.
constexpr long ReceiveBufferSize = 512 * 1024;
constexpr auto ConnectTimeout = 30s;
constexpr auto DefaultStallTimeout = 60s;
constexpr auto ProgressInterval = 100ms;
constexpr long MaxRedirects = 10;
constexpr char AllowedProtocols[] = "http,https,ftp,ftps";
constexpr char UserAgent[] = "Quorrin/" QUORRIN_VERSION;

// What one transfer writes into, and why it was given up when libcurl did not decide it.
struct Transfer {
    PartFile *file = nullptr;
    DownloadFailure abandoned = DownloadFailure::None;
};

size_t writeToPartFile(char *data, size_t, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    return transfer->file->write(data, count) ? count : 0; // 0 makes libcurl stop the transfer
}

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

} // namespace

// The easy handle runs inside a multi handle of its own, so that the wait for data can be
// cut into short slices: progress reports and the stall check need sub-second timing, and
// libcurl's own loop wakes only once a second while the line is quiet. Both handles live on,
// and the multi handle's connection cache keeps connections open between downloads.
struct FileDownloader::Session {
    Session();
    ~Session();
    DownloadResult download(const QByteArray &url, const QString &path, const Progress &progress);
    CURLcode run(Transfer &transfer, const Progress &progress);
    DownloadResult outcome(CURLcode code, const Transfer &transfer);
    qint64 announcedLength() const;

    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> m_multi{nullptr, curl_multi_cleanup};
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> m_easy{nullptr, curl_easy_cleanup};
    std::chrono::milliseconds m_stallTimeout = DefaultStallTimeout;
};

FileDownloader::Session::Session()
{
    initialiseCurl();
    m_multi.reset(curl_multi_init());
    m_easy.reset(curl_easy_init());
    if (!m_easy)
        return;
    CURL *handle = m_easy.get();
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, AllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, AllowedProtocols);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(ConnectTimeout / 1ms));
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(handle, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, writeToPartFile);
}

FileDownloader::Session::~Session() = default;

DownloadResult FileDownloader::Session::download(const QByteArray &url, const QString &path,
                                                 const Progress &progress)
{
    PartFile file(path);
    if (!file.isOpen())
        return failed(file.failure());
    Transfer transfer{&file};
    curl_easy_setopt(m_easy.get(), CURLOPT_URL, url.constData());
    curl_easy_setopt(m_easy.get(), CURLOPT_WRITEDATA, &transfer);
    const CURLcode code = run(transfer, progress);
    DownloadResult result = outcome(code, transfer);
    if (result.ok && !file.commit())
        return failed(file.failure());
    return result;
}

CURLcode FileDownloader::Session::run(Transfer &transfer, const Progress &progress)
{
    if (curl_multi_add_handle(m_multi.get(), m_easy.get()) != CURLM_OK)
        return CURLE_FAILED_INIT;
    const int pollMilliseconds = int(std::clamp<long long>(m_stallTimeout.count() / 4, 10, 100));
    Clock::time_point lastActivity = Clock::now();
    Clock::time_point lastReport = lastActivity - ProgressInterval;
    qint64 received = 0;
    CURLcode result = CURLE_FAILED_INIT; // replaced by libcurl's own when it finishes
    for (int running = 1; running > 0;) {
        if (curl_multi_perform(m_multi.get(), &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi.get(), &queued))
            if (message->msg == CURLMSG_DONE)
                result = message->data.result;
        if (running == 0)
            break;
        const Clock::time_point now = Clock::now();
        if (transfer.file->size() != received) {
            received = transfer.file->size();
            lastActivity = now;
        }
        if (now - lastActivity >= m_stallTimeout) {
            transfer.abandoned = DownloadFailure::Stalled;
            break;
        }
        if (progress && now - lastReport >= ProgressInterval) {
            lastReport = now;
            if (!progress(received, announcedLength())) {
                transfer.abandoned = DownloadFailure::Cancelled;
                break;
            }
        }
        curl_multi_poll(m_multi.get(), nullptr, 0, pollMilliseconds, nullptr);
    }
    // Removing an unfinished transfer closes its connection instead of keeping it for reuse.
    curl_multi_remove_handle(m_multi.get(), m_easy.get());
    return result;
}

DownloadResult FileDownloader::Session::outcome(CURLcode code, const Transfer &transfer)
{
    if (transfer.abandoned != DownloadFailure::None)
        return failed(transfer.abandoned);
    if (transfer.file->failure() != DownloadFailure::None)
        return failed(transfer.file->failure());
    long status = 0;
    curl_easy_getinfo(m_easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (code != CURLE_OK) {
        long redirects = 0;
        curl_easy_getinfo(m_easy.get(), CURLINFO_REDIRECT_COUNT, &redirects);
        const DownloadFailure failure = failureOfCurl(code, redirects);
        return failed(failure, failure == DownloadFailure::HttpError ? status : long(code));
    }
    const char *scheme = nullptr;
    curl_easy_getinfo(m_easy.get(), CURLINFO_SCHEME, &scheme);
    const bool http = scheme && QByteArray(scheme).toLower().startsWith("http");
    if (http && (status < 200 || status > 299))
        return failed(DownloadFailure::HttpError, status);
    const qint64 announced = announcedLength();
    if (announced > 0 && transfer.file->size() != announced)
        return failed(DownloadFailure::Interrupted);
    return {true, QString(), DownloadFailure::None};
}

qint64 FileDownloader::Session::announcedLength() const
{
    curl_off_t length = -1;
    curl_easy_getinfo(m_easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length > 0 ? qint64(length) : 0;
}

FileDownloader::FileDownloader()
    : m_session(std::make_unique<Session>())
{
}

FileDownloader::~FileDownloader() = default;

DownloadResult FileDownloader::download(const QString &url, const QString &path,
                                        const Progress &progress)
{
    const QByteArray encoded = percentEncodedUrl(url);
    const QString scheme = QString::fromLatin1(encoded.left(encoded.indexOf(':')));
    if (encoded.isEmpty() || !isDownloadScheme(scheme))
        return failed(DownloadFailure::UnsupportedAddress);
    if (!m_session->m_easy || !m_session->m_multi)
        return failed(DownloadFailure::Other, long(CURLE_FAILED_INIT));
    return m_session->download(encoded, path, progress);
}

void FileDownloader::setStallTimeout(std::chrono::milliseconds timeout)
{
    m_session->m_stallTimeout = timeout;
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
