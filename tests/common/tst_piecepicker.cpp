#include "piecepicker.h"
#include "splitpolicy.h"

#include <QTest>

using namespace quorrin;

using Ranges = std::vector<ByteRange>;
using Paces = std::vector<ConnectionPace>;
using Amounts = std::vector<qint64>;
Q_DECLARE_METATYPE(quorrin::ByteRange)
Q_DECLARE_METATYPE(Amounts)
Q_DECLARE_METATYPE(Ranges)
Q_DECLARE_METATYPE(Paces)

namespace quorrin {

char *toString(const Piece &piece)
{
    return qstrdup(QByteArray('[' + QByteArray::number(piece.range.begin) + ", " +
                              QByteArray::number(piece.range.end) + "), shortened " +
                              (piece.shortened ? QByteArray::number(qulonglong(*piece.shortened))
                                               : QByteArray("none")))
                       .constData());
}

} // namespace quorrin

namespace {

constexpr qint64 MiB = 1 << 20;

// Ranges given in MiB.
ByteRange mib(qint64 begin, qint64 end)
{
    return {begin * MiB, end * MiB};
}

ByteRanges setOf(const Ranges &ranges)
{
    ByteRanges set;
    for (const ByteRange &range : ranges)
        set.add(range);
    return set;
}

constexpr int None = -1;

} // namespace

class TestPiecePicker : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nextPiece_data();
    void nextPiece();
    void connectionToRelieve_data();
    void connectionToRelieve();
    void moreConnections_data();
    void moreConnections();
};

void TestPiecePicker::nextPiece_data()
{
    QTest::addColumn<qint64>("total");
    QTest::addColumn<Ranges>("held");
    QTest::addColumn<Ranges>("underway");
    QTest::addColumn<qint64>("minimum");
    QTest::addColumn<bool>("given");
    QTest::addColumn<ByteRange>("range"); // when given
    QTest::addColumn<int>("shortened");   // the index of the connection cut short, or None

    const qint64 forNew = NewConnectionPiece;
    const qint64 forFinished = FinishedConnectionPiece;
    QTest::newRow("the first connection takes the whole file")
        << 100 * MiB << Ranges{} << Ranges{} << forNew << true << mib(0, 100) << None;
    QTest::newRow("a resumed file: the first of the largest missing ranges, whole")
        << 100 * MiB << Ranges{mib(0, 10), mib(50, 60)} << Ranges{} << forNew << true << mib(10, 50)
        << None;
    QTest::newRow("a second connection takes the second half of the first one's range")
        << 100 * MiB << Ranges{mib(0, 20)} << Ranges{mib(20, 100)} << forNew << true << mib(60, 100)
        << 0;
    QTest::newRow("an odd count: the one that asks gets the larger half")
        << qint64(9) << Ranges{} << Ranges{{0, 9}} << qint64(1) << true << ByteRange{4, 9} << 0;
    QTest::newRow("a free gap larger than any half, whole")
        << 100 * MiB << Ranges{mib(0, 10)} << Ranges{mib(10, 40)} << forNew << true << mib(40, 100)
        << None;
    QTest::newRow("half a range larger than the free gap")
        << 100 * MiB << Ranges{} << Ranges{mib(0, 80)} << forNew << true << mib(40, 80) << 0;
    QTest::newRow("a free gap as large as half a range: the gap")
        << 60 * MiB << Ranges{} << Ranges{mib(0, 40)} << forNew << true << mib(40, 60) << None;
    QTest::newRow("the largest of several ranges under way")
        << 60 * MiB << Ranges{} << Ranges{mib(0, 10), mib(10, 50), mib(50, 60)} << forNew << true
        << mib(30, 50) << 1;
    QTest::newRow("ranges of equal size: the first in the file")
        << 70 * MiB << Ranges{mib(20, 50)} << Ranges{mib(50, 70), mib(0, 20)} << forNew << true
        << mib(10, 20) << 1;
    QTest::newRow("nothing missing, nothing under way")
        << 100 * MiB << Ranges{mib(0, 100)} << Ranges{} << forNew << false << ByteRange{} << None;
    // 7 MiB left under way: halves of 3.5 MiB.
    QTest::newRow("a file nearly done: not for a new connection")
        << 100 * MiB << Ranges{mib(0, 93)} << Ranges{mib(93, 100)} << forNew << false << ByteRange{}
        << None;
    QTest::newRow("a file nearly done: for a connection that has finished")
        << 100 * MiB << Ranges{mib(0, 93)} << Ranges{mib(93, 100)} << forFinished << true
        << ByteRange{96 * MiB + MiB / 2, 100 * MiB} << 0;
    QTest::newRow("a small file is never split")
        << 8 * MiB - 1 << Ranges{} << Ranges{{0, 8 * MiB - 1}} << forNew << false << ByteRange{}
        << None;
    QTest::newRow("a file of twice the smallest piece is split")
        << 8 * MiB << Ranges{} << Ranges{mib(0, 8)} << forNew << true << mib(4, 8) << 0;
    QTest::newRow("no minimum still leaves each connection a byte")
        << qint64(1) << Ranges{} << Ranges{{0, 1}} << qint64(0) << false << ByteRange{} << None;
    // Nobody else would ever fetch it.
    QTest::newRow("a free gap below the smallest piece is still given")
        << 50 * MiB + 10 << Ranges{mib(0, 43)} << Ranges{mib(43, 50)} << forNew << true
        << ByteRange{50 * MiB, 50 * MiB + 10} << None;
}

void TestPiecePicker::nextPiece()
{
    QFETCH(qint64, total);
    QFETCH(Ranges, held);
    QFETCH(Ranges, underway);
    QFETCH(qint64, minimum);
    QFETCH(bool, given);
    QFETCH(ByteRange, range);
    QFETCH(int, shortened);
    const std::optional<Piece> piece = quorrin::nextPiece(total, setOf(held), underway, minimum);
    QCOMPARE(piece.has_value(), given);
    if (!given)
        return;
    const Piece expected{range,
                         shortened == None ? std::nullopt : std::optional<std::size_t>(shortened)};
    QCOMPARE(*piece, expected);
}

void TestPiecePicker::connectionToRelieve_data()
{
    QTest::addColumn<Paces>("connections"); // MiB/s and MiB to come
    QTest::addColumn<int>("relieved");      // an index, or None

    QTest::newRow("all at the same pace") << Paces{{8, 64}, {8, 64}, {8, 64}} << None;
    QTest::newRow("a stalled connection") << Paces{{8, 10}, {0, 10}, {8, 10}} << 1;
    QTest::newRow("far slower, the others take over sooner")
        << Paces{{8, 16}, {1, 16}, {8, 16}} << 1;
    // A quarter of the others' pace is the threshold itself, not below it.
    QTest::newRow("exactly a quarter of the others' pace")
        << Paces{{8, 64}, {2, 64}, {8, 64}} << None;
    QTest::newRow("far slower but nearly done") << Paces{{8, 64}, {1, 1}, {8, 64}} << None;
    // The others would need 2.5 s for their own and its 4 MiB, it needs 4 s.
    QTest::newRow("the others would take over only a little sooner")
        << Paces{{8, 16}, {1, 4}, {8, 16}} << None;
    QTest::newRow("a finished connection takes over") << Paces{{8, 0}, {1, 4}} << 1;
    QTest::newRow("the slower of two slow ones")
        << Paces{{8, 16}, {1, 16}, {0.5, 16}, {8, 16}} << 2;
    QTest::newRow("nobody else is receiving") << Paces{{0, 0}, {0, 10}} << None;
    QTest::newRow("alone") << Paces{{0, 10}} << None;
    QTest::newRow("a slow connection that has finished") << Paces{{8, 16}, {0, 0}} << None;
}

void TestPiecePicker::connectionToRelieve()
{
    QFETCH(Paces, connections);
    QFETCH(int, relieved);
    for (ConnectionPace &pace : connections) {
        pace.bytesPerSecond *= double(MiB);
        pace.remaining *= MiB;
    }
    const std::optional<std::size_t> chosen = quorrin::connectionToRelieve(connections);
    QCOMPARE(chosen ? int(*chosen) : None, relieved);
}

void TestPiecePicker::moreConnections_data()
{
    QTest::addColumn<qint64>("reference"); // KiB the first connection brought alone
    QTest::addColumn<Amounts>("brought");  // KiB each added one brought over its own window
    QTest::addColumn<int>("waitedShare");  // % of the time the engine waited for the network
    QTest::addColumn<bool>("another");     // another round of connections is worth it

    QTest::newRow("each connection held to a rate: each new one as much as the first")
        << qint64(2048) << Amounts{2048, 2100, 1990} << 90 << true;
    QTest::newRow("a full line shared: a second connection gets half")
        << qint64(2048) << Amounts{1024} << 90 << false;
    QTest::newRow("two thirds of the first each: enough")
        << qint64(3000) << Amounts{2000, 2000, 2000} << 90 << true;
    QTest::newRow("a new connection that brought nothing weighs on the others")
        << qint64(2048) << Amounts{2048, 1024, 0} << 90 << false;
    QTest::newRow("no new connection brought anything")
        << qint64(2048) << Amounts{0} << 90 << false;
    // Whatever they seem to bring, a process that is busy all the time is the limit itself.
    QTest::newRow("the engine had no time to spare")
        << qint64(2048) << Amounts{2048, 2048, 2048} << 30 << false;
    QTest::newRow("the engine waited half the time")
        << qint64(2048) << Amounts{2048, 2048, 2048} << 50 << true;
}

void TestPiecePicker::moreConnections()
{
    QFETCH(qint64, reference);
    QFETCH(Amounts, brought);
    QFETCH(int, waitedShare);
    QFETCH(bool, another);
    const auto span = std::chrono::milliseconds(1000);
    QCOMPARE(roundHelped(reference, brought) && hasRoom(span * waitedShare / 100, span), another);
}

QTEST_APPLESS_MAIN(TestPiecePicker)
#include "tst_piecepicker.moc"
