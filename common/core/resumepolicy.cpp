#include "resumepolicy.h"

#include <QList>

namespace quorrin {
namespace {

using namespace std::chrono_literals;

// "bytes 100-199/1000": the first and last bytes and the total; false when it does not read so.
bool parseContentRange(const QByteArray &value, qint64 &first, qint64 &last, qint64 &total)
{
    const QByteArray text = value.trimmed();
    if (!text.toLower().startsWith("bytes "))
        return false;
    const QList<QByteArray> parts = text.mid(6).trimmed().split('/');
    if (parts.size() != 2)
        return false;
    const QList<QByteArray> range = parts.at(0).split('-');
    bool firstOk = false;
    bool lastOk = false;
    bool totalOk = false;
    first = range.value(0).trimmed().toLongLong(&firstOk);
    last = range.value(1).trimmed().toLongLong(&lastOk);
    total = parts.at(1).trimmed().toLongLong(&totalOk);
    return range.size() == 2 && firstOk && lastOk && totalOk && first >= 0 && last >= first &&
           total > last;
}

} // namespace

// Several equal values, in one line or in several, are one length (RFC 9112, 6.3).
void ResponseHead::addContentLength(QByteArrayView value)
{
    for (qsizetype from = 0; from <= value.size();) {
        qsizetype comma = value.indexOf(',', from);
        if (comma < 0)
            comma = value.size();
        bool ok = false;
        const qint64 length = value.sliced(from, comma - from).trimmed().toLongLong(&ok);
        if (!ok || length < 0 || (contentLength >= 0 && length != contentLength))
            conflictingLengths = true;
        else
            contentLength = length;
        from = comma + 1;
    }
}

// Read in place: only the values kept are copied, as every answer of a long queue has its head
// read here.
void ResponseHead::addLine(QByteArrayView line)
{
    const QByteArrayView text = line.trimmed();
    if (text.startsWith("HTTP/")) {
        *this = ResponseHead();
        // "HTTP/1.1 200 OK": the code is the second word.
        const qsizetype space = text.indexOf(' ');
        if (space >= 0) {
            const QByteArrayView rest = text.sliced(space + 1);
            const qsizetype end = rest.indexOf(' ');
            status = (end < 0 ? rest : rest.first(end)).toLong();
        }
        return;
    }
    const qsizetype colon = text.indexOf(':');
    if (colon <= 0)
        return;
    const QByteArrayView name = text.first(colon).trimmed();
    const QByteArrayView value = text.sliced(colon + 1).trimmed();
    // Most names differ from each known one in length already.
    const auto is = [name](QByteArrayView known) {
        return name.size() == known.size() && name.compare(known, Qt::CaseInsensitive) == 0;
    };
    if (is("etag"))
        etag = value.toByteArray();
    else if (is("last-modified"))
        lastModified = value.toByteArray();
    else if (is("content-range"))
        contentRange = value.toByteArray();
    else if (is("retry-after"))
        retryAfter = value.toByteArray();
    else if (is("content-length"))
        addContentLength(value);
    else if (is("accept-ranges"))
        acceptsRanges = value.compare("bytes", Qt::CaseInsensitive) == 0;
}

QByteArray resumeValidator(const ResponseHead &head)
{
    if (head.etag.startsWith('"'))
        return head.etag;
    return head.etag.isEmpty() ? head.lastModified : QByteArray();
}

bool namesVersion(const ResponseHead &head, const QByteArray &validator)
{
    if (validator.isEmpty())
        return false;
    return validator.startsWith('"') ? head.etag == validator : head.lastModified == validator;
}

namespace {

// A whole file under the very version held must be as long as that version.
bool contradictsVersion(const ResponseHead &head, qint64 knownTotal, const QByteArray &validator)
{
    if (!validator.startsWith('"') || head.etag != validator)
        return false;
    return !head.contentRange.isEmpty() ||
           (knownTotal >= 0 && head.contentLength >= 0 && head.contentLength != knownTotal);
}

} // namespace

ResponseFit fitResponse(const ResponseHead &head, bool askedRange, qint64 held, qint64 knownTotal,
                        const QByteArray &validator)
{
    if (head.conflictingLengths)
        return {ResponseFit::Invalid};
    if (head.status == 204 || head.status == 205)
        return {ResponseFit::Fail};
    if (head.status != 206) {
        if (contradictsVersion(head, knownTotal, validator))
            return {ResponseFit::Inconsistent};
        qint64 total = head.contentLength >= 0 ? head.contentLength : -1;
        // Without a length, the version named still tells how long it is.
        if (total < 0 && validator.startsWith('"') && head.etag == validator)
            total = knownTotal;
        return {held > 0 ? ResponseFit::StartOver : ResponseFit::Continue, 0, total};
    }
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
    if (!askedRange || !parseContentRange(head.contentRange, first, last, total))
        return {ResponseFit::Fail};
    // Another version, another size, or a part that starts after what we hold: not the file
    // we have.
    if (!namesVersion(head, validator) || total != knownTotal || first > held)
        return {ResponseFit::Refetch};
    return {ResponseFit::Continue, held - first, total};
}

namespace {

// Whether the answer names something of the file that `version` does not have.
bool namesOtherVersion(const ResponseHead &head, qint64 total, const FileVersion &version)
{
    const auto differs = [](const QByteArray &named, const QByteArray &known) {
        return !named.isEmpty() && !known.isEmpty() && named != known;
    };
    return differs(head.etag, version.etag) || differs(head.lastModified, version.lastModified) ||
           (total >= 0 && total != version.total);
}

} // namespace

PieceFit fitPiece(const ResponseHead &head, ByteRange asked, const FileVersion &version)
{
    if (head.status != 206)
        return head.status / 100 == 2 && namesOtherVersion(head, head.contentLength, version)
                   ? PieceFit::OtherVersion
                   : PieceFit::Unsplittable;
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = 0;
    if (head.conflictingLengths || !parseContentRange(head.contentRange, first, last, total))
        return PieceFit::Unsplittable;
    if (namesOtherVersion(head, total, version))
        return PieceFit::OtherVersion;
    if (!namesVersion(head, version.validator) || first != asked.begin || last + 1 != asked.end)
        return PieceFit::Unsplittable;
    return PieceFit::Fits;
}

bool isRetryable(DownloadFailure failure, long status, bool reachedServerBefore)
{
    switch (failure) {
    case DownloadFailure::Interrupted:
    case DownloadFailure::Stalled:
    case DownloadFailure::TooSlow:
    case DownloadFailure::TimedOut:
    case DownloadFailure::InconsistentAnswer:
        return true;
    case DownloadFailure::ConnectionRefused:
        return reachedServerBefore;
    case DownloadFailure::HttpError:
        return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
               status == 504;
    default:
        return false;
    }
}

std::chrono::milliseconds retryWait(int fruitlessTries, const QByteArray &retryAfter,
                                    std::chrono::milliseconds unit)
{
    bool isNumber = false;
    const int seconds = retryAfter.trimmed().toInt(&isNumber);
    if (isNumber && seconds >= 0 && seconds <= 60)
        return std::chrono::seconds(seconds);
    return unit * (1 << std::clamp(fruitlessTries - 1, 0, 3));
}

} // namespace quorrin
