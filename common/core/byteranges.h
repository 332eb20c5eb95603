#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

namespace quorrin {

// The bytes [begin, end) of a file; empty when end <= begin.
struct ByteRange {
    qint64 begin = 0;
    qint64 end = 0;

    qint64 size() const { return end > begin ? end - begin : 0; }
    bool operator==(const ByteRange &) const = default;
};

// A set of bytes of one file, such as those held, asked for or free: ranges kept sorted,
// apart from one another (two that touch or overlap are one) and never empty.
class ByteRanges {
public:
    ByteRanges() = default;

    // Adds or removes every byte of `range`; an empty range changes nothing. Offsets are never
    // negative.
    void add(ByteRange range);
    void remove(ByteRange range);
    // Whether every byte of `range` is in the set (an empty range always is).
    bool contains(ByteRange range) const;
    // How many bytes the set holds.
    qint64 bytes() const;
    // The bytes of [0, total) that are not in the set.
    ByteRanges gaps(qint64 total) const;

    const std::vector<ByteRange> &ranges() const { return m_ranges; }
    bool isEmpty() const { return m_ranges.empty(); }
    bool operator==(const ByteRanges &) const = default;

    // The set as text, each range as its first and last byte as HTTP's Range header writes
    // them, in order, separated by commas: "0-1048575,4194304-8388607"; empty for no byte.
    QByteArray toText() const;
    // Reads toText()'s form for a file of `total` bytes, exactly as toText() writes it: only
    // decimal digits without leading zeros, '-' and ',', ranges in order and apart, none
    // reaching past the file's end. Anything else, or a negative total, is nothing: the text
    // comes from a file on disk that anyone may have written.
    static std::optional<ByteRanges> fromText(QByteArrayView text, qint64 total);

private:
    std::vector<ByteRange> m_ranges;
};

} // namespace quorrin
