// The address a download sends, on any text pasted or handed in: the quick reading of plain
// addresses must give what a parse gives.
#include "fuzzinput.h"
#include "urlencoding.h"

#include <QUrl>

using namespace quorrin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString address = fuzz::decodeInput(data, size);
    const EncodedAddress encoded = encodeAddress(address);
    fuzz::require(encoded.url == percentEncodedUrl(address));
    fuzz::require(encoded.url.isEmpty() == encoded.server.isEmpty());
    if (encoded.url.isEmpty())
        return 0;
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    fuzz::require(encoded.server == url.scheme().toLatin1() + "://" +
                                        url.host().toLower().toUtf8() + ':' +
                                        QByteArray::number(url.port()));
    return 0;
}
