#include "byteranges.h"

#include <QTest>

#include <limits>

using namespace quorrin;

using Ranges = std::vector<ByteRange>;
Q_DECLARE_METATYPE(quorrin::ByteRange)
Q_DECLARE_METATYPE(Ranges)

namespace quorrin {

// Failure messages show the ranges.
char *toString(const Ranges &ranges)
{
    QByteArray text;
    for (const ByteRange &range : ranges)
        text += '[' + QByteArray::number(range.begin) + ", " + QByteArray::number(range.end) + ") ";
    return qstrdup(text.isEmpty() ? "{}" : text.trimmed().constData());
}

char *toString(const ByteRanges &set)
{
    return toString(set.ranges());
}

} // namespace quorrin

namespace {

ByteRanges setOf(const Ranges &ranges)
{
    ByteRanges set;
    for (const ByteRange &range : ranges)
        set.add(range);
    return set;
}

constexpr qint64 MiB = 1 << 20;

} // namespace

class TestByteRanges : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void add_data();
    void add();
    void remove_data();
    void remove();
    void contains_data();
    void contains();
    void gaps_data();
    void gaps();
    void textRoundTrip_data();
    void textRoundTrip();
    void textRefused_data();
    void textRefused();
};

void TestByteRanges::add_data()
{
    QTest::addColumn<Ranges>("added");
    QTest::addColumn<Ranges>("kept");
    QTest::addColumn<qint64>("bytes");

    QTest::newRow("in any order, kept in order")
        << Ranges{{20, 30}, {0, 10}} << Ranges{{0, 10}, {20, 30}} << qint64(20);
    QTest::newRow("touching ranges become one")
        << Ranges{{10, 20}, {0, 10}} << Ranges{{0, 20}} << qint64(20);
    QTest::newRow("overlapping ranges become one")
        << Ranges{{0, 15}, {10, 20}} << Ranges{{0, 20}} << qint64(20);
    QTest::newRow("one byte apart stays apart")
        << Ranges{{0, 10}, {11, 20}} << Ranges{{0, 10}, {11, 20}} << qint64(19);
    QTest::newRow("a range fills the gap between two")
        << Ranges{{0, 10}, {20, 30}, {10, 20}} << Ranges{{0, 30}} << qint64(30);
    QTest::newRow("a range covers several")
        << Ranges{{5, 6}, {8, 9}, {40, 50}, {0, 20}} << Ranges{{0, 20}, {40, 50}} << qint64(30);
    QTest::newRow("a range overlaps the ends of two")
        << Ranges{{0, 10}, {20, 30}, {40, 50}, {5, 25}} << Ranges{{0, 30}, {40, 50}} << qint64(40);
    QTest::newRow("a range inside one held")
        << Ranges{{0, 100}, {10, 20}} << Ranges{{0, 100}} << qint64(100);
    QTest::newRow("empty and reversed ranges change nothing")
        << Ranges{{5, 5}, {9, 3}} << Ranges{} << qint64(0);
}

void TestByteRanges::add()
{
    QFETCH(Ranges, added);
    QFETCH(Ranges, kept);
    QFETCH(qint64, bytes);
    const ByteRanges set = setOf(added);
    QCOMPARE(set.ranges(), kept);
    QCOMPARE(set.bytes(), bytes);
    // The same bytes added in the opposite order are the same set.
    QCOMPARE(setOf(Ranges(added.rbegin(), added.rend())), set);
}

void TestByteRanges::remove_data()
{
    QTest::addColumn<Ranges>("held");
    QTest::addColumn<ByteRange>("removed");
    QTest::addColumn<Ranges>("kept");

    QTest::newRow("from the middle: the range splits in two")
        << Ranges{{0, 100}} << ByteRange{40, 60} << Ranges{{0, 40}, {60, 100}};
    QTest::newRow("the head") << Ranges{{0, 100}} << ByteRange{0, 30} << Ranges{{30, 100}};
    QTest::newRow("the tail") << Ranges{{0, 100}} << ByteRange{70, 200} << Ranges{{0, 70}};
    QTest::newRow("across several ranges")
        << Ranges{{0, 10}, {20, 30}, {40, 50}} << ByteRange{5, 45} << Ranges{{0, 5}, {45, 50}};
    QTest::newRow("exactly one range")
        << Ranges{{0, 10}, {20, 30}} << ByteRange{20, 30} << Ranges{{0, 10}};
    QTest::newRow("in a gap") << Ranges{{0, 10}, {20, 30}} << ByteRange{10, 20}
                              << Ranges{{0, 10}, {20, 30}};
    QTest::newRow("an empty range") << Ranges{{0, 10}} << ByteRange{5, 5} << Ranges{{0, 10}};
}

void TestByteRanges::remove()
{
    QFETCH(Ranges, held);
    QFETCH(ByteRange, removed);
    QFETCH(Ranges, kept);
    ByteRanges set = setOf(held);
    set.remove(removed);
    QCOMPARE(set.ranges(), kept);
}

void TestByteRanges::contains_data()
{
    QTest::addColumn<ByteRange>("range");
    QTest::addColumn<bool>("contained");

    // Of the set [10, 20) [30, 40).
    QTest::newRow("a whole range") << ByteRange{10, 20} << true;
    QTest::newRow("inside a range") << ByteRange{12, 15} << true;
    QTest::newRow("its last byte") << ByteRange{39, 40} << true;
    QTest::newRow("the byte after it") << ByteRange{20, 21} << false;
    QTest::newRow("the byte before it") << ByteRange{9, 10} << false;
    QTest::newRow("runs past its end") << ByteRange{15, 25} << false;
    QTest::newRow("spans the gap between two") << ByteRange{15, 35} << false;
    QTest::newRow("after the last one") << ByteRange{45, 50} << false;
    QTest::newRow("an empty range") << ByteRange{25, 25} << true;
}

void TestByteRanges::contains()
{
    QFETCH(ByteRange, range);
    QFETCH(bool, contained);
    QCOMPARE(setOf({{10, 20}, {30, 40}}).contains(range), contained);
}

void TestByteRanges::gaps_data()
{
    QTest::addColumn<Ranges>("held");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<Ranges>("free");

    QTest::newRow("nothing held") << Ranges{} << qint64(100) << Ranges{{0, 100}};
    QTest::newRow("everything held") << Ranges{{0, 100}} << qint64(100) << Ranges{};
    QTest::newRow("before, between and after")
        << Ranges{{10, 20}, {50, 60}} << qint64(100) << Ranges{{0, 10}, {20, 50}, {60, 100}};
    QTest::newRow("held past the end") << Ranges{{90, 200}} << qint64(100) << Ranges{{0, 90}};
    QTest::newRow("held only past the end")
        << Ranges{{0, 10}, {150, 200}} << qint64(100) << Ranges{{10, 100}};
    QTest::newRow("an empty file") << Ranges{} << qint64(0) << Ranges{};
}

void TestByteRanges::gaps()
{
    QFETCH(Ranges, held);
    QFETCH(qint64, total);
    QFETCH(Ranges, free);
    QCOMPARE(setOf(held).gaps(total).ranges(), free);
}

void TestByteRanges::textRoundTrip_data()
{
    QTest::addColumn<Ranges>("held");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("nothing") << Ranges{} << qint64(0) << QByteArray();
    QTest::newRow("two ranges") << Ranges{{0, MiB}, {4 * MiB, 8 * MiB}} << 8 * MiB
                                << QByteArray("0-1048575,4194304-8388607");
    QTest::newRow("one byte") << Ranges{{7, 8}} << qint64(10) << QByteArray("7-7");
    QTest::newRow("the largest file")
        << Ranges{{0, 1}, {3, std::numeric_limits<qint64>::max()}}
        << std::numeric_limits<qint64>::max() << QByteArray("0-0,3-9223372036854775806");
}

void TestByteRanges::textRoundTrip()
{
    QFETCH(Ranges, held);
    QFETCH(qint64, total);
    QFETCH(QByteArray, text);
    const ByteRanges set = setOf(held);
    QCOMPARE(set.toText(), text);
    const std::optional<ByteRanges> read = ByteRanges::fromText(text, total);
    QVERIFY(read);
    QCOMPARE(*read, set);
}

void TestByteRanges::textRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("total");

    QTest::newRow("last byte before the first") << QByteArray("10-5") << qint64(100);
    QTest::newRow("overlapping") << QByteArray("0-10,5-20") << qint64(100);
    QTest::newRow("out of order") << QByteArray("20-30,0-10") << qint64(100);
    QTest::newRow("the same range twice") << QByteArray("0-10,0-10") << qint64(100);
    // Written as one range by the writer.
    QTest::newRow("touching") << QByteArray("0-9,10-19") << qint64(100);
    QTest::newRow("past the end of the file") << QByteArray("0-100") << qint64(100);
    QTest::newRow("anything of an empty file") << QByteArray("0-0") << qint64(0);
    QTest::newRow("a file of unknown length") << QByteArray() << qint64(-1);
    QTest::newRow("past the largest number")
        << QByteArray("0-9223372036854775808") << std::numeric_limits<qint64>::max();
    QTest::newRow("far past the largest number")
        << QByteArray("0-99999999999999999999999") << std::numeric_limits<qint64>::max();
    QTest::newRow("a sign") << QByteArray("+1-5") << qint64(100);
    QTest::newRow("a negative offset") << QByteArray("-1-5") << qint64(100);
    QTest::newRow("a leading zero") << QByteArray("01-5") << qint64(100);
    QTest::newRow("zero written twice") << QByteArray("00-5") << qint64(100);
    QTest::newRow("a blank after a comma") << QByteArray("0-5, 7-9") << qint64(100);
    QTest::newRow("a line break at the end") << QByteArray("0-5\n") << qint64(100);
    QTest::newRow("a NUL at the end") << QByteArray("0-5\0", 4) << qint64(100);
    QTest::newRow("a trailing comma") << QByteArray("0-5,") << qint64(100);
    QTest::newRow("a leading comma") << QByteArray(",0-5") << qint64(100);
    QTest::newRow("an empty item") << QByteArray("0-5,,7-9") << qint64(100);
    QTest::newRow("no last byte") << QByteArray("0-") << qint64(100);
    QTest::newRow("no dash") << QByteArray("5") << qint64(100);
    QTest::newRow("two dashes") << QByteArray("0-5-7") << qint64(100);
    QTest::newRow("another separator") << QByteArray("0-5;7-9") << qint64(100);
    QTest::newRow("hexadecimal") << QByteArray("0x10-0x20") << qint64(100);
}

void TestByteRanges::textRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, total);
    QVERIFY(!ByteRanges::fromText(text, total));
}

QTEST_APPLESS_MAIN(TestByteRanges)
#include "tst_byteranges.moc"
