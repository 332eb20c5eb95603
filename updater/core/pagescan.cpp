#include "pagescan.h"

#include "commandline.h"
#include "installercheck.h"
#include "updatetexts.h"

#include <QUrl>

#include <limits>
#include <optional>

namespace quorrin::updater {
namespace {

const QString LinkPrefix = QStringLiteral("<A href=\"");
const QString InstallerExtension = QStringLiteral(".exe");
constexpr qsizetype MaxRevisionDigits = 6;
constexpr qsizetype MaxFileNameBytes = 255;

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A decimal number with an optional sign, nothing else around it, that fits in 32 bits.
std::optional<qint32> decimal32(QStringView text)
{
    const bool negative = text.startsWith(QLatin1Char('-'));
    if (negative || text.startsWith(QLatin1Char('+')))
        text = text.mid(1);
    if (text.isEmpty())
        return std::nullopt;
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    qint64 value = 0;
    for (const QChar c : text) {
        if (!isAsciiDigit(c))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > limit)
            return std::nullopt;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return qint32(value);
}

// The number of digits, at most six, that end just before position `end`.
qsizetype revisionDigitsBefore(const QString &html, qsizetype end)
{
    qsizetype count = 0;
    while (count < MaxRevisionDigits && end - count > 0 && isAsciiDigit(html.at(end - count - 1)))
        ++count;
    return count;
}

QString pathInDirectory(const QString &directory, const QString &name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name
                                                : directory + QLatin1Char('/') + name;
}

} // namespace

bool isPlainFileName(const QString &name)
{
    // A UTF-16 unit never takes less than one byte in UTF-8: spares encoding huge names.
    if (name.isEmpty() || name.size() > MaxFileNameBytes)
        return false;
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    if (!QStringView(name).isValidUtf16())
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return name.toUtf8().size() <= MaxFileNameBytes;
}

ScanResult readUpdatePage(const QString &html, const QStringList &updArgs,
                          const QString &programDirectory, const QString &baseUrl)
{
    ScanResult result;
    if (updArgs.size() < CommandLineFieldCount) {
        result.action = ScanResult::Action::EndSilently;
        return result;
    }

    const qsizetype link = html.indexOf(LinkPrefix + updArgs.at(StemField));
    if (link < 0)
        return result;
    const qsizetype nameStart = link + LinkPrefix.size();
    // The search starts at the quote that ends the prefix, as the page format was defined.
    const qsizetype extension = html.indexOf(InstallerExtension, nameStart - 1);
    if (extension < 0)
        return result;
    const qsizetype digits = revisionDigitsBefore(html, extension);
    const QString name = html.mid(nameStart, extension + InstallerExtension.size() - nameStart);
    if (digits == 0 || !isPlainFileName(name))
        return result;
    result.installerName = name;
    result.pageRevision = html.mid(extension - digits, digits);

    const std::optional<qint32> callerRevision = decimal32(updArgs.at(RevisionField));
    if (!callerRevision) {
        result.action = ScanResult::Action::EndSilently;
        return result;
    }
    if (*callerRevision >= result.pageRevision.toInt()) {
        result.action = ScanResult::Action::UpToDate;
        return result;
    }

    result.action = ScanResult::Action::Notify;
    result.setupPath = pathInDirectory(programDirectory, name);
    result.downloadUrl = baseUrl + QString::fromLatin1(QUrl::toPercentEncoding(name));
    result.signatureUrl = signatureUrlFor(result.downloadUrl);
    result.notification = notificationText(updArgs.at(NameField), result.pageRevision);
    return result;
}

} // namespace quorrin::updater
