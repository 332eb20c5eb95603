#include "resumerecord.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <limits>
#include <sys/xattr.h>
#include <vector>

namespace quorrin {
namespace {

constexpr char UrlName[] = "user.quorrin.url";
constexpr char ValidatorName[] = "user.quorrin.validator";
constexpr char TotalName[] = "user.quorrin.total";
constexpr char HeldName[] = "user.quorrin.held";
constexpr char WrittenName[] = "user.quorrin.written";

// Tells one start of the system from the next: what only the page cache held is gone after it.
// Never destroyed: the disk threads still keep part files while the process's statics go.
const QByteArray &bootId()
{
    static const QByteArray *const id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return new QByteArray(file.open(QIODevice::ReadOnly) ? file.readAll().trimmed()
                                                             : QByteArray());
    }();
    return *id;
}

// The ranges of a file of `total` bytes (-1 when unknown) as the record writes them, or, as
// records once did, one count of bytes from the first; nothing for anything else.
std::optional<ByteRanges> rangesOf(const QByteArray &text, qint64 total)
{
    const qint64 bound = total >= 0 ? total : std::numeric_limits<qint64>::max();
    if (std::optional<ByteRanges> ranges = ByteRanges::fromText(text, bound))
        return ranges;
    const bool digits =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    bool ok = false;
    const qint64 count = text.toLongLong(&ok);
    if (!digits || !ok || count > bound)
        return std::nullopt;
    ByteRanges ranges;
    ranges.add({0, count});
    return ranges;
}

// "<boot id> <ranges>", for this start of the system only.
ByteRanges writtenSinceBoot(const QByteArray &value, qint64 total)
{
    const qsizetype space = value.indexOf(' ');
    if (space <= 0 || bootId().isEmpty() || value.left(space) != bootId())
        return {};
    return rangesOf(value.mid(space + 1), total).value_or(ByteRanges());
}

// The ranges' text, without the smallest ranges when it would be too long for the record.
QByteArray boundedText(const ByteRanges &ranges)
{
    QByteArray text = ranges.toText();
    if (text.size() <= MaxRecordedRangesText)
        return text;
    // Each range dropped takes its own text and a comma away.
    std::vector<ByteRange> bySize = ranges.ranges();
    std::stable_sort(bySize.begin(), bySize.end(),
                     [](const ByteRange &a, const ByteRange &b) { return a.size() < b.size(); });
    ByteRanges kept = ranges;
    qsizetype length = text.size();
    for (const ByteRange &range : bySize) {
        if (length <= MaxRecordedRangesText)
            break;
        length -=
            QByteArray::number(range.begin).size() + QByteArray::number(range.end - 1).size() + 2;
        kept.remove(range);
    }
    return kept.toText();
}

std::optional<QByteArray> attribute(int fd, const char *name)
{
    QByteArray value(4096, '\0');
    const ssize_t size = ::fgetxattr(fd, name, value.data(), size_t(value.size()));
    if (size < 0)
        return std::nullopt;
    value.truncate(size);
    return value;
}

bool setAttribute(int fd, const char *name, const QByteArray &value)
{
    return ::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0) == 0;
}

} // namespace

std::optional<ResumeRecord> ResumeRecord::read(int fd)
{
    const std::optional<QByteArray> url = attribute(fd, UrlName);
    if (!url || url->isEmpty())
        return std::nullopt;
    ResumeRecord record;
    record.url = *url;
    record.validator = attribute(fd, ValidatorName).value_or(QByteArray());
    bool ok = false;
    record.total = attribute(fd, TotalName).value_or("-1").toLongLong(&ok);
    if (!ok || record.total < -1)
        record.total = -1;
    record.held = rangesOf(attribute(fd, HeldName).value_or(QByteArray()), record.total)
                      .value_or(ByteRanges());
    record.written =
        writtenSinceBoot(attribute(fd, WrittenName).value_or(QByteArray()), record.total);
    return record;
}

bool ResumeRecord::write(int fd) const
{
    // The address goes last: it is what marks the file as one of ours, with a whole record.
    if (!setAttribute(fd, ValidatorName, validator) ||
        !setAttribute(fd, TotalName, QByteArray::number(total)) ||
        !setAttribute(fd, HeldName, boundedText(held)))
        return false;
    writeWritten(fd, written);
    return setAttribute(fd, UrlName, url);
}

void ResumeRecord::writeHeld(int fd, const ByteRanges &held)
{
    setAttribute(fd, HeldName, boundedText(held));
}

void ResumeRecord::writeWritten(int fd, const ByteRanges &written)
{
    if (!bootId().isEmpty())
        setAttribute(fd, WrittenName, bootId() + ' ' + boundedText(written));
}

void ResumeRecord::erase(int fd)
{
    for (const char *name : {UrlName, ValidatorName, TotalName, HeldName, WrittenName})
        ::fremovexattr(fd, name);
}

} // namespace quorrin
