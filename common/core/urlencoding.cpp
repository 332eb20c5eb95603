#include "urlencoding.h"

#include <QUrl>

#include <optional>

namespace quorrin {

namespace {

std::optional<QUrl> parsedAddress(const QString &address)
{
    // Tolerant parsing encodes stray spaces and a "%" that starts no escape, and leaves
    // valid escapes alone, which is what keeps "%20" from becoming "%2520".
    QUrl url(address.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

QByteArray percentEncodedUrl(const QString &address)
{
    const std::optional<QUrl> url = parsedAddress(address);
    return url ? url->toEncoded(QUrl::RemoveFragment) : QByteArray();
}

EncodedAddress encodeAddress(const QString &address)
{
    const std::optional<QUrl> url = parsedAddress(address);
    if (!url)
        return {};
    return {url->toEncoded(QUrl::RemoveFragment), url->scheme().toLatin1() + "://" +
                                                      url->host().toLower().toUtf8() + ':' +
                                                      QByteArray::number(url->port())};
}

QByteArray withoutUserInfo(const QByteArray &url)
{
    // Encoded, a user name or password comes before an '@'; an address without one is already
    // as parsing would give it back.
    if (!url.contains('@'))
        return url;
    return QUrl::fromEncoded(url).adjusted(QUrl::RemoveUserInfo).toEncoded();
}

bool isDownloadScheme(const QString &scheme)
{
    for (const char *allowed : {"http", "https", "ftp", "ftps"})
        if (scheme.compare(QLatin1String(allowed), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace quorrin
