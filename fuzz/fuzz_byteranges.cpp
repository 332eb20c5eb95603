// The reader of a part file's ranges on any bytes found in its attribute.
#include "byteranges.h"
#include "fuzzinput.h"

#include <limits>

using namespace quorrin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView text(data, qsizetype(size));
    const std::optional<ByteRanges> set =
        ByteRanges::fromText(text, std::numeric_limits<qint64>::max());
    if (!set) {
        // Refused for the longest file, refused for any.
        fuzz::require(!ByteRanges::fromText(text, qint64(1) << 20));
        return 0;
    }
    // Only the writer's own form is read, and exactly.
    fuzz::require(set->toText() == text);
    const std::vector<ByteRange> &ranges = set->ranges();
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        fuzz::require(ranges[i].begin >= 0 && ranges[i].begin < ranges[i].end);
        fuzz::require(i == 0 || ranges[i - 1].end < ranges[i].begin);
    }
    // A file as long as the last range accepts them, one byte shorter does not.
    const qint64 end = ranges.empty() ? 0 : ranges.back().end;
    fuzz::require(ByteRanges::fromText(text, end) == set);
    fuzz::require(end == 0 || !ByteRanges::fromText(text, end - 1));

    // The set and its gaps share no byte and together are the whole file.
    const ByteRanges free = set->gaps(end);
    fuzz::require(ByteRanges::fromText(free.toText(), end) == free);
    fuzz::require(free.bytes() + set->bytes() == end);
    ByteRanges whole = *set;
    for (const ByteRange &gap : free.ranges()) {
        fuzz::require(!set->contains({gap.begin, gap.begin + 1}));
        fuzz::require(!set->contains({gap.end - 1, gap.end}));
        whole.add(gap);
    }
    fuzz::require(end == 0 || whole.ranges() == std::vector<ByteRange>{{0, end}});
    fuzz::require(free.gaps(end) == *set);
    ByteRanges withoutGaps = *set;
    for (const ByteRange &gap : free.ranges())
        withoutGaps.remove(gap);
    fuzz::require(withoutGaps == *set);
    ByteRanges emptied = *set;
    for (const ByteRange &range : ranges) {
        fuzz::require(set->contains(range));
        emptied.remove(range);
    }
    fuzz::require(emptied.isEmpty());
    return 0;
}
