#include "byteranges.h"

#include <algorithm>
#include <limits>

namespace quorrin {

void ByteRanges::add(ByteRange range)
{
    if (range.size() == 0)
        return;
    // The ranges that overlap or touch `range` become one with it.
    const auto first =
        std::lower_bound(m_ranges.begin(), m_ranges.end(), range.begin,
                         [](const ByteRange &held, qint64 begin) { return held.end < begin; });
    const auto last =
        std::upper_bound(first, m_ranges.end(), range.end,
                         [](qint64 end, const ByteRange &held) { return end < held.begin; });
    if (first != last) {
        range.begin = std::min(range.begin, first->begin);
        range.end = std::max(range.end, std::prev(last)->end);
    }
    m_ranges.insert(m_ranges.erase(first, last), range);
}

void ByteRanges::remove(ByteRange range)
{
    if (range.size() == 0)
        return;
    // The ranges that overlap `range`; what they hold before and after it stays.
    const auto first =
        std::upper_bound(m_ranges.begin(), m_ranges.end(), range.begin,
                         [](qint64 begin, const ByteRange &held) { return begin < held.end; });
    const auto last =
        std::lower_bound(first, m_ranges.end(), range.end,
                         [](const ByteRange &held, qint64 end) { return held.begin < end; });
    if (first == last)
        return;
    const ByteRange before{first->begin, range.begin};
    const ByteRange after{range.end, std::prev(last)->end};
    auto at = m_ranges.erase(first, last);
    if (after.size() > 0)
        at = m_ranges.insert(at, after);
    if (before.size() > 0)
        m_ranges.insert(at, before);
}

bool ByteRanges::contains(ByteRange range) const
{
    if (range.size() == 0)
        return true;
    const auto held =
        std::upper_bound(m_ranges.begin(), m_ranges.end(), range.begin,
                         [](qint64 begin, const ByteRange &held) { return begin < held.end; });
    return held != m_ranges.end() && held->begin <= range.begin && range.end <= held->end;
}

qint64 ByteRanges::bytes() const
{
    qint64 sum = 0;
    for (const ByteRange &range : m_ranges)
        sum += range.size();
    return sum;
}

ByteRanges ByteRanges::gaps(qint64 total) const
{
    ByteRanges free;
    qint64 at = 0;
    for (const ByteRange &range : m_ranges) {
        if (range.begin >= total)
            break;
        if (range.begin > at)
            free.m_ranges.push_back({at, range.begin});
        at = range.end;
    }
    if (at < total)
        free.m_ranges.push_back({at, total});
    return free;
}

QByteArray ByteRanges::toText() const
{
    QByteArray text;
    for (const ByteRange &range : m_ranges) {
        if (!text.isEmpty())
            text += ',';
        text += QByteArray::number(range.begin) + '-' + QByteArray::number(range.end - 1);
    }
    return text;
}

namespace {

// Reads a decimal number without sign or leading zero at `at`, moving `at` past it; false when
// there is none or it does not fit in a qint64.
bool readNumber(QByteArrayView text, qsizetype &at, qint64 &value)
{
    const qsizetype start = at;
    value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (at > start && text[start] == '0')
            return false;
        const int digit = text[at] - '0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return at > start;
}

} // namespace

std::optional<ByteRanges> ByteRanges::fromText(QByteArrayView text, qint64 total)
{
    if (total < 0)
        return std::nullopt;
    ByteRanges set;
    qsizetype at = 0;
    while (at < text.size()) {
        if (at > 0 && text[at++] != ',')
            return std::nullopt;
        qint64 first = 0;
        qint64 last = 0;
        if (!readNumber(text, at, first) || at == text.size() || text[at++] != '-' ||
            !readNumber(text, at, last) || last < first || last >= total)
            return std::nullopt;
        // After the previous range, with at least one byte between them.
        if (!set.m_ranges.empty() && first <= set.m_ranges.back().end)
            return std::nullopt;
        set.m_ranges.push_back({first, last + 1});
    }
    return set;
}

} // namespace quorrin
