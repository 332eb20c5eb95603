#include "pagefetch.h"

#include "bodymarkup.h"
#include "curlglobal.h"
#include "urlencoding.h"
#include "version.h"

#include <QByteArray>
#include <QStringDecoder>

#include <curl/curl.h>

#include <memory>
#include <optional>

namespace quorrin {
namespace {

struct Reply {
    QByteArray body;
    const std::atomic<bool> *abandoned = nullptr;
};

size_t appendToReply(char *data, size_t, size_t count, void *userData)
{
    auto *reply = static_cast<Reply *>(userData);
    if (reply->body.size() + qint64(count) > PageFetch::MaxPageSize)
        return 0; // too large: libcurl stops with a write error
    reply->body.append(data, qsizetype(count));
    return count;
}

int checkAbandoned(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Reply *>(userData)->abandoned->load() ? 1 : 0;
}

// The page's text in the character set its server names, UTF-8 when it names none.
QString decode(const QByteArray &body, const char *contentType)
{
    const QByteArray type = QByteArray(contentType ? contentType : "").toLower();
    const qsizetype charset = type.indexOf("charset=");
    if (charset >= 0) {
        QByteArray name = type.mid(charset + 8).trimmed();
        name = name.left(name.indexOf(';') >= 0 ? name.indexOf(';') : name.size());
        name.replace('"', QByteArray());
        QStringDecoder decoder(name.constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return QString::fromUtf8(body);
}

// The whole page, or nothing when it cannot be had.
std::optional<QString> fetch(const QString &url, std::chrono::milliseconds timeout,
                             const std::atomic<bool> &abandoned)
{
    initialiseCurl();
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(),
                                                                   curl_easy_cleanup);
    if (!curl)
        return std::nullopt;
    Reply reply{{}, &abandoned};
    const QByteArray address = percentEncodedUrl(url);
    CURL *handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, address.constData());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, long(timeout.count()));
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(PageFetch::MaxPageSize));
    curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(handle, CURLOPT_USERAGENT, "Quorrin-updater/" QUORRIN_VERSION);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendToReply);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, checkAbandoned);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &reply);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    if (curl_easy_perform(handle) != CURLE_OK)
        return std::nullopt;
    const char *contentType = nullptr;
    curl_easy_getinfo(handle, CURLINFO_CONTENT_TYPE, &contentType);
    return decode(reply.body, contentType);
}

} // namespace

PageFetch::PageFetch(QObject *parent)
    : QObject(parent)
{
}

PageFetch::~PageFetch()
{
    m_abandoned = true;
    if (m_worker.joinable())
        m_worker.join();
}

void PageFetch::Navigate(const QString &url)
{
    m_worker = std::thread([this, url, timeout = m_timeout] {
        const std::optional<QString> page = fetch(url, timeout, m_abandoned);
        const QString markup = page ? bodyMarkup(*page) : QString();
        // Queued to this object's thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this, [this, markup] { Q_EMIT DocumentComplete(markup); }, Qt::QueuedConnection);
    });
}

} // namespace quorrin
