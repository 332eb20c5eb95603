#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace quorrin {

// The address as a browser would send what the user pasted: surrounding blanks dropped,
// spaces and non-ASCII characters percent-encoded as UTF-8, an international host name in
// punycode, the fragment left out; what is already percent-encoded stays as it is. Empty
// when the text is not an absolute address with a scheme and a host.
QByteArray percentEncodedUrl(const QString &address);

// An address as percentEncodedUrl() gives it, and the server it names as connections to it
// are counted: its scheme, host and port ("http://example.org:-1" where it names no port).
// Both empty where percentEncodedUrl() gives nothing.
struct EncodedAddress {
    QByteArray url;
    QByteArray server;
};
EncodedAddress encodeAddress(const QString &address);

// Where the scheme and authority at the start of `address` end: at the first '/', '?' or '#'
// after its "://", or at its end.
qsizetype authorityEnd(QStringView address);

// An address as percentEncodedUrl() gives it, without its user name and password: what may be
// written down or shown.
QByteArray withoutUserInfo(const QByteArray &url);

// True for the schemes that a download may use, and that a redirect may lead to.
bool isDownloadScheme(const QString &scheme);

} // namespace quorrin
