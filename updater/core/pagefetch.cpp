#include "pagefetch.h"

#include "bodymarkup.h"
#include "transfer.h"
#include "version.h"

#include <QByteArray>
#include <QStringDecoder>

#include <utility>

namespace quorrin::updater {
namespace {

// The page's text in the character set its server names, UTF-8 when it names none.
QString decode(const QByteArray &body, const QByteArray &contentType)
{
    const QByteArray type = contentType.toLower();
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

} // namespace

PageFetch::PageFetch(QObject *parent)
    : QObject(parent)
{
}

PageFetch::~PageFetch() = default;

void PageFetch::Navigate(const QString &url)
{
    TransferOptions options;
    options.protocols = TransferOptions::Protocols::WebPages;
    options.deadline = m_timeout;
    options.maxSize = MaxPageSize;
    options.acceptEncoding = true;
    options.userAgent = "Quorrin-updater/" QUORRIN_VERSION;
    Transfer *transfer = startFetch(url, std::move(options), this);
    connect(transfer, &Transfer::finished, this, [this, transfer](const DownloadResult &result) {
        transfer->deleteLater();
        Q_EMIT DocumentComplete(
            result.ok ? bodyMarkup(decode(transfer->body(), transfer->contentType())) : QString());
    });
}

} // namespace quorrin::updater
