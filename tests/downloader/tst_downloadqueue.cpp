#include "downloadqueue.h"
#include "entrynaming.h"

#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;

class TestDownloadQueue : public QObject {
    Q_OBJECT

    static DownloadQueue queueOf(const QStringList &names)
    {
        DownloadQueue queue;
        for (const QString &name : names)
            queue.append(name, QStringLiteral("http://h/") + name, QStringLiteral("/dl/") + name);
        return queue;
    }

private Q_SLOTS:
    void startsWithPlaceholder()
    {
        const DownloadQueue queue;
        QCOMPARE(queue.rows(), QStringList{QueuePlaceholder});
        QVERIFY(queue.isEmpty());
        QVERIFY(!queue.isFull());
    }

    void appendEditsNewEntry()
    {
        DownloadQueue queue = queueOf({QStringLiteral("a"), QStringLiteral("b")});
        QCOMPARE(queue.rows(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(queue.pages(),
                 (QStringList{QStringLiteral("http://h/a"), QStringLiteral("http://h/b")}));
        QCOMPARE(queue.editedEntry(), 1);
        queue.setEditedPath(QStringLiteral("/x"));
        QCOMPARE(queue.paths(), (QStringList{QStringLiteral("/dl/a"), QStringLiteral("/x")}));
    }

    // StoreEntry cuts both arrays at the stored index: entries left from before a reset go.
    void storeEntryEndsArrays()
    {
        DownloadQueue queue =
            queueOf({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        queue.ResetParameters();
        QCOMPARE(queue.rows(), QStringList{QueuePlaceholder});
        queue.append(QStringLiteral("d"), QStringLiteral("http://h/d"), QStringLiteral("/dl/d"));
        QCOMPARE(queue.rows(), QStringList{QStringLiteral("d")});
        QCOMPARE(queue.pages(), QStringList{QStringLiteral("http://h/d")});
        QCOMPARE(queue.paths(), QStringList{QStringLiteral("/dl/d")});
    }

    void removeAt_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("first of three") << 3 << 0 << QStringList{"1", "2"};
        QTest::newRow("middle of three") << 3 << 1 << QStringList{"0", "2"};
        QTest::newRow("last of three") << 3 << 2 << QStringList{"0", "1"};
        QTest::newRow("only row") << 1 << 0 << QStringList{QueuePlaceholder};
    }
    void removeAt()
    {
        QFETCH(int, count);
        QFETCH(int, row);
        QFETCH(QStringList, remaining);
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << QString::number(i);
        DownloadQueue queue = queueOf(names);
        queue.removeAt(row);
        QCOMPARE(queue.rows(), remaining);
        if (queue.isEmpty())
            return;
        QCOMPARE(queue.pages().size(), remaining.size());
        for (int i = 0; i < remaining.size(); ++i) {
            QCOMPARE(queue.page(i), QStringLiteral("http://h/") + remaining.at(i));
            QCOMPARE(queue.path(i), QStringLiteral("/dl/") + remaining.at(i));
        }
    }

    // An entry named like the placeholder in the first row makes the queue count as empty:
    // nothing is removed and the next entry replaces it.
    void entryNamedLikePlaceholder()
    {
        DownloadQueue queue = queueOf({QueuePlaceholder});
        QVERIFY(queue.isEmpty());
        queue.removeAt(0);
        QCOMPARE(queue.rows(), QStringList{QueuePlaceholder});
        queue.append(QStringLiteral("b.zip"), QStringLiteral("http://h/b.zip"),
                     QStringLiteral("/dl/b.zip"));
        QCOMPARE(queue.rows(), QStringList{QStringLiteral("b.zip")});
    }

    // Removing the entry before one named like the placeholder leaves that entry's row alone.
    void placeholderNamedEntryMovesUp()
    {
        DownloadQueue queue = queueOf({QStringLiteral("a"), QueuePlaceholder});
        queue.removeAt(0);
        QCOMPARE(queue.rows(), QStringList{QueuePlaceholder});
        QCOMPARE(queue.pages(), QStringList{QStringLiteral("http://h/") + QueuePlaceholder});
    }

    void fullQueueRefusesEntry()
    {
        DownloadQueue queue;
        for (int i = 0; i < MaxQueueEntries; ++i)
            QVERIFY(queue.append(QString::number(i), QString(), QString()));
        QVERIFY(queue.isFull());
        QVERIFY(!queue.append(QStringLiteral("one-too-many"), QString(), QString()));
        QCOMPARE(queue.rows().size(), MaxQueueEntries);
        QCOMPARE(queue.editedEntry(), MaxQueueEntries - 1);
        queue.removeAt(100);
        QVERIFY(!queue.isFull());
        QCOMPARE(queue.rows().at(100), QStringLiteral("101"));
    }
};

QTEST_MAIN(TestDownloadQueue)
#include "tst_downloadqueue.moc"
