#include "killprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace quorrin;

namespace {

using ProcessList = QList<ProcessEntry>;

// A copy of `sleep` under a name of the test's own, started as real processes.
class SleeperCopies {
public:
    SleeperCopies()
        : m_name(QStringLiteral("QuorrinTest-Éé-%1").arg(QCoreApplication::applicationPid()))
    {
    }

    ~SleeperCopies()
    {
        for (auto &process : m_processes) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

    bool install()
    {
        return m_directory.isValid() && QFile::copy(QStringLiteral("/bin/sleep"), path());
    }

    // Starts one more copy; its id, or 0.
    quint32 start()
    {
        auto process = std::make_unique<QProcess>();
        process->start(path(), {QStringLiteral("60")});
        if (!process->waitForStarted(5000))
            return 0;
        const auto id = quint32(process->processId());
        m_processes.push_back(std::move(process));
        return id;
    }

    // Waits for copy `id` to end; true when a signal ended it.
    bool endedBySignal(quint32 id)
    {
        for (auto &process : m_processes) {
            if (quint32(process->processId()) == id)
                return process->waitForFinished(5000) &&
                       process->exitStatus() == QProcess::CrashExit;
        }
        return false;
    }

    QString name() const { return m_name; }
    QString path() const { return m_directory.filePath(m_name); }

private:
    QString m_name;
    QTemporaryDir m_directory;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

quint32 pidMax()
{
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toUInt() : 0;
}

} // namespace

class TestKillProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setProcessTerminator({}); }
    void lookup_data();
    void lookup();
    void terminatorRefusesUnsafeIds_data();
    void terminatorRefusesUnsafeIds();
    void killsRealProcessesLowestFirst();
    void namesThatFindNothing();
    void findsProgramWhoseFileWasDeleted();
    void terminateUnknownProcess();
};

void TestKillProcess::lookup_data()
{
    QTest::addColumn<ProcessList>("processes");
    QTest::addColumn<QString>("exeName");
    QTest::addColumn<quint32>("ownId");
    QTest::addColumn<quint32>("found");

    const ProcessList list{{40, QStringLiteral("bash")},
                           {12, QStringLiteral("QUORRIN")},
                           {30, QStringLiteral("quorrin")},
                           {50, QStringLiteral("Programme-Éé")},
                           {60, QString()}};
    QTest::newRow("lowest id first, whatever the list's order")
        << list << QStringLiteral("quorrin") << 1u << 12u;
    QTest::newRow("case ignored") << list << QStringLiteral("Quorrin") << 1u << 12u;
    QTest::newRow("accented letters in either case")
        << list << QStringLiteral("PROGRAMME-éÉ") << 1u << 50u;
    QTest::newRow("own process never counted") << list << QStringLiteral("quorrin") << 12u << 30u;
    QTest::newRow("only the own process") << list << QStringLiteral("bash") << 40u << 0u;
    QTest::newRow("a directory finds nothing")
        << list << QStringLiteral("/usr/bin/quorrin") << 1u << 0u;
    QTest::newRow("another extension finds nothing")
        << list << QStringLiteral("quorrin.exe") << 1u << 0u;
    QTest::newRow("part of a name finds nothing") << list << QStringLiteral("quor") << 1u << 0u;
    QTest::newRow("empty name finds nothing") << list << QString() << 1u << 0u;
    QTest::newRow("empty list") << ProcessList() << QStringLiteral("quorrin") << 1u << 0u;
}

void TestKillProcess::lookup()
{
    QFETCH(ProcessList, processes);
    QFETCH(QString, exeName);
    QFETCH(quint32, ownId);
    QFETCH(quint32, found);
    QCOMPARE(findProcessInList(processes, exeName, ownId), found);
}

void TestKillProcess::terminatorRefusesUnsafeIds_data()
{
    QTest::addColumn<quint32>("processId");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("an ordinary id") << 4242u << true;
    QTest::newRow("0 is no process") << 0u << false;
    // As a POSIX process id these would name a process group, or every process.
    QTest::newRow("past the signed range") << 0x80000000u << false;
    QTest::newRow("all bits set") << 0xFFFFFFFFu << false;
}

void TestKillProcess::terminatorRefusesUnsafeIds()
{
    QFETCH(quint32, processId);
    QFETCH(bool, delivered);

    QList<quint32> requested;
    setProcessTerminator([&requested](quint32 id) {
        requested.append(id);
        return true;
    });
    QCOMPARE(TerminateProcessById(processId), delivered);
    QCOMPARE(requested, delivered ? QList<quint32>{processId} : QList<quint32>());
}

void TestKillProcess::killsRealProcessesLowestFirst()
{
    SleeperCopies copies;
    QVERIFY(copies.install());
    const quint32 first = copies.start();
    const quint32 second = copies.start();
    QVERIFY(first != 0 && second != 0);
    const quint32 lower = qMin(first, second);
    const quint32 higher = qMax(first, second);

    const QString otherCase =
        copies.name().toLower().replace(QStringLiteral("éé"), QStringLiteral("ÉÉ"));
    QCOMPARE(FindProcessByName(otherCase), lower);
    QVERIFY(KillProcessByName(otherCase.toUpper()));
    QVERIFY(copies.endedBySignal(lower));

    QCOMPARE(FindProcessByName(copies.name()), higher);
    QVERIFY(TerminateProcessById(higher));
    QVERIFY(copies.endedBySignal(higher));
    QCOMPARE(FindProcessByName(copies.name()), 0u);
    QVERIFY(!KillProcessByName(copies.name()));
}

void TestKillProcess::namesThatFindNothing()
{
    SleeperCopies copies;
    QVERIFY(copies.install());
    QVERIFY(copies.start() != 0);
    QVERIFY(FindProcessByName(copies.name()) != 0);

    QCOMPARE(FindProcessByName(copies.path()), 0u);
    QCOMPARE(FindProcessByName(copies.name() + QStringLiteral(".exe")), 0u);
    QCOMPARE(FindProcessByName(copies.name().chopped(1)), 0u);
    QCOMPARE(FindProcessByName(QString()), 0u);
    QVERIFY(!KillProcessByName(QString()));
}

void TestKillProcess::findsProgramWhoseFileWasDeleted()
{
    // As when an installer replaces the running program's file.
    SleeperCopies copies;
    QVERIFY(copies.install());
    const quint32 id = copies.start();
    QVERIFY(id != 0);
    QVERIFY(QFile::remove(copies.path()));
    QCOMPARE(FindProcessByName(copies.name()), id);
}

void TestKillProcess::terminateUnknownProcess()
{
    // Ids stay below pid_max, so no process has that one.
    const quint32 unused = pidMax();
    QVERIFY(unused > 0);
    QVERIFY(!TerminateProcessById(unused));
}

QTEST_GUILESS_MAIN(TestKillProcess)
#include "tst_killprocess.moc"
