#include "threadmailbox.h"

#include <QTest>

#include <thread>

using namespace quorrin;

// Calls sent from another thread run on the mailbox's thread in the order sent, except those
// whose owner withdrew them before they ran: a Transfer destroyed with reports waiting.
class TestThreadMailbox : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void withdrawnCallsNeverRun_data()
    {
        QTest::addColumn<bool>("fromAnEarlierCall");
        QTest::newRow("withdrawn before the thread gets to them") << false;
        QTest::newRow("withdrawn by a call delivered with them") << true;
    }

    void withdrawnCallsNeverRun()
    {
        QFETCH(bool, fromAnEarlierCall);
        const std::shared_ptr<ThreadMailbox> mailbox = ThreadMailbox::ofThisThread();
        const int withdrawing = 0;
        const int withdrawn = 0;
        QList<int> ran;
        std::thread([&] {
            mailbox->put(&withdrawing, [&] {
                ran << 1;
                if (fromAnEarlierCall)
                    mailbox->withdraw(&withdrawn);
            });
            for (int call = 2; call <= 4; ++call)
                mailbox->put(&withdrawn, [&ran, call] { ran << call; });
            mailbox->put(&withdrawing, [&] { ran << 5; });
        }).join();
        if (!fromAnEarlierCall)
            mailbox->withdraw(&withdrawn);
        QTRY_COMPARE(ran, QList<int>({1, 5}));
    }

    // Calls that can wait run only once enough of them wait, or with one that cannot: the
    // line of a run counts on being told of its arrivals before its held transfers run out.
    void callsThatCanWaitComeInGroups_data()
    {
        QTest::addColumn<int>("unhurried");
        QTest::addColumn<bool>("urgentAfter");
        QTest::addColumn<int>("delivered");
        const int limit = ThreadMailbox::WaitingLimit;
        QTest::newRow("fewer than the limit, alone") << limit - 1 << false << 0;
        QTest::newRow("fewer than the limit, then one that cannot wait")
            << limit - 1 << true << limit;
        QTest::newRow("as many as the limit") << limit << false << limit;
    }

    void callsThatCanWaitComeInGroups()
    {
        QFETCH(int, unhurried);
        QFETCH(bool, urgentAfter);
        QFETCH(int, delivered);
        const std::shared_ptr<ThreadMailbox> mailbox = ThreadMailbox::ofThisThread();
        const int owner = 0;
        QList<int> ran;
        std::thread([&] {
            for (int call = 1; call <= unhurried; ++call)
                mailbox->put(
                    &owner, [&ran, call] { ran << call; }, ThreadMailbox::Urgency::WithOthers);
            if (urgentAfter)
                mailbox->put(&owner, [&ran] { ran << 0; });
        }).join();
        QCoreApplication::processEvents();
        QCOMPARE(ran.size(), delivered);
        mailbox->withdraw(&owner);
    }

    void lastHolderGoesDuringDelivery()
    {
        std::shared_ptr<ThreadMailbox> held = ThreadMailbox::ofThisThread();
        const int owner = 0;
        QList<int> ran;
        std::thread([&] {
            held->put(&owner, [&] {
                ran << 1;
                held.reset();
            });
            held->put(&owner, [&] { ran << 2; });
        }).join();
        QTRY_COMPARE(ran, QList<int>({1, 2}));
    }
};

QTEST_GUILESS_MAIN(TestThreadMailbox)
#include "tst_threadmailbox.moc"
