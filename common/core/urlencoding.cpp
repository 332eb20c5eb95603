#include "urlencoding.h"

#include <QUrl>

#include <optional>

namespace quorrin {

namespace {

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isLowerOrDigit(char16_t c)
{
    return (c >= u'a' && c <= u'z') || isDigit(c);
}

bool isUnreserved(char16_t c)
{
    return isLowerOrDigit(c) || (c >= u'A' && c <= u'Z') || c == u'-' || c == u'.' || c == u'_' ||
           c == u'~';
}

// A decimal number from 0 to `max`, without a leading zero.
bool isPlainNumber(QStringView text, int max)
{
    if (text.isEmpty() || text.size() > 5 || (text.size() > 1 && text.front() == u'0'))
        return false;
    int value = 0;
    for (const QChar c : text) {
        if (!isDigit(c.unicode()))
            return false;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= max;
}

// A label of lower-case letters, digits and inner hyphens, which no rule of international
// names reads otherwise.
bool isPlainLabel(QStringView label)
{
    if (label.isEmpty() || label.size() > 63 || label.front() == u'-' || label.back() == u'-' ||
        (label.size() > 3 && label[2] == u'-' && label[3] == u'-'))
        return false;
    for (const QChar c : label)
        if (!isLowerOrDigit(c.unicode()) && c != u'-')
            return false;
    return true;
}

// A host name of lower-case ASCII labels, or an IPv4 address in its usual four numbers: what
// parsing gives back as it stands. A name that could be read as an address is not one.
bool isPlainHost(QStringView host)
{
    const qsizetype lastDot = host.lastIndexOf(u'.');
    const QStringView last = host.sliced(lastDot + 1);
    const bool address = !last.isEmpty() && isDigit(last.front().unicode());
    int labels = 0;
    for (qsizetype from = 0; from <= host.size(); ++labels) {
        qsizetype dot = host.indexOf(u'.', from);
        if (dot < 0)
            dot = host.size();
        const QStringView label = host.sliced(from, dot - from);
        if (address ? !isPlainNumber(label, 255) : !isPlainLabel(label))
            return false;
        from = dot + 1;
    }
    return !address || labels == 4;
}

// The path and query of a plain address: unreserved characters and slashes, then maybe a
// query of unreserved characters, '=' and '&'.
bool isPlainPathAndQuery(QStringView rest)
{
    qsizetype i = 0;
    for (; i < rest.size() && rest[i] != u'?'; ++i) {
        const char16_t c = rest[i].unicode();
        if (!isUnreserved(c) && c != u'/')
            return false;
    }
    if (i == rest.size())
        return true;
    if (++i == rest.size())
        return false;
    for (; i < rest.size(); ++i) {
        const char16_t c = rest[i].unicode();
        if (!(isUnreserved(c) || c == u'=' || c == u'&'))
            return false;
    }
    return true;
}

// Most addresses of a long queue hold nothing that parsing would change: a download scheme
// and a host in lower case, maybe a port, plain characters. Such an address is sent as it
// stands, without the cost of a parse.
std::optional<EncodedAddress> plainAddress(QStringView address)
{
    qsizetype schemeEnd = 0;
    for (const QStringView scheme : {u"http://", u"https://", u"ftp://", u"ftps://"})
        if (address.startsWith(scheme))
            schemeEnd = scheme.size();
    if (schemeEnd == 0)
        return std::nullopt;
    const qsizetype end = authorityEnd(address);
    const QStringView authority = address.sliced(schemeEnd, end - schemeEnd);
    const qsizetype colon = authority.indexOf(u':');
    const QStringView host = colon < 0 ? authority : authority.first(colon);
    if (host.isEmpty() || (colon >= 0 && !isPlainNumber(authority.sliced(colon + 1), 65535)) ||
        !isPlainHost(host) || !isPlainPathAndQuery(address.sliced(end)))
        return std::nullopt;
    const QByteArray url = address.toLatin1();
    const QByteArray server = colon < 0 ? url.first(end) + ":-1" : url.first(end);
    return EncodedAddress{url, server};
}

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

qsizetype authorityEnd(QStringView address)
{
    const qsizetype scheme = address.indexOf(u"://");
    qsizetype end = scheme < 0 ? address.size() : scheme + 3;
    const auto endsAuthority = [](QChar c) { return c == u'/' || c == u'?' || c == u'#'; };
    while (end < address.size() && !endsAuthority(address[end]))
        ++end;
    return end;
}

QByteArray percentEncodedUrl(const QString &address)
{
    const std::optional<QUrl> url = parsedAddress(address);
    return url ? url->toEncoded(QUrl::RemoveFragment) : QByteArray();
}

EncodedAddress encodeAddress(const QString &address)
{
    if (std::optional<EncodedAddress> plain = plainAddress(QStringView(address).trimmed()))
        return *std::move(plain);
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
