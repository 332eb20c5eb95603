#include "killprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>
#include <vector>

using namespace quorrin;
using namespace quorrin::updater;

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

    // Starts one more copy, for another user when `userId` is not -1 (root only); its id, or 0.
    quint32 start(int userId = -1)
    {
        auto process = std::make_unique<QProcess>();
        if (userId >= 0) {
            process->setChildProcessModifier([userId] {
                if (::setgid(gid_t(userId)) != 0 || ::setuid(uid_t(userId)) != 0)
                    ::_exit(127);
            });
        }
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
    QString directory() const { return m_directory.path(); }
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
    void lookup_data();
    void lookup();
    void terminatorRefusesUnsafeIds_data();
    void terminatorRefusesUnsafeIds();
    void killsRealProcessesLowestFirst();
    void namesThatFindNothing();
    void findsProgramWhoseFileWasDeleted();
    void onlyCopiesInTheDirectory();
    void otherUsersCopyNotFound();
    void terminateUnknownProcess();
};

void TestKillProcess::lookup_data()
{
    QTest::addColumn<ProcessList>("processes");
    QTest::addColumn<QString>("exeName");
    QTest::addColumn<QString>("directory");
    QTest::addColumn<quint32>("ownId");
    QTest::addColumn<quint32>("found");

    const QString dir = QStringLiteral("/opt/q");
    const qint64 user = 1000;
    const ProcessList list{{40, QStringLiteral("bash"), dir, user},
                           {12, QStringLiteral("QUORRIN"), dir, user},
                           {30, QStringLiteral("quorrin"), dir, user},
                           {50, QStringLiteral("Programme-Éé"), dir, user},
                           {60, QString(), dir, user},
                           // Not this user's, elsewhere, or of a directory that is unknown.
                           {5, QStringLiteral("quorrin"), dir, 0},
                           {6, QStringLiteral("quorrin"), QStringLiteral("/usr/bin"), user},
                           {7, QStringLiteral("quorrin"), QStringLiteral("/opt/q/sub"), user},
                           {8, QStringLiteral("quorrin"), QString(), user},
                           {9, QStringLiteral("programme-éé"), QStringLiteral("/opt"), user}};
    QTest::newRow("lowest id first, whatever the list's order")
        << list << QStringLiteral("quorrin") << dir << 1u << 12u;
    QTest::newRow("case ignored") << list << QStringLiteral("Quorrin") << dir << 1u << 12u;
    QTest::newRow("accented letters in either case")
        << list << QStringLiteral("PROGRAMME-éÉ") << dir << 1u << 50u;
    QTest::newRow("own process never counted")
        << list << QStringLiteral("quorrin") << dir << 12u << 30u;
    QTest::newRow("only the own process") << list << QStringLiteral("bash") << dir << 40u << 0u;
    QTest::newRow("directory with a trailing slash")
        << list << QStringLiteral("quorrin") << dir + QLatin1Char('/') << 1u << 12u;
    QTest::newRow("another directory")
        << list << QStringLiteral("quorrin") << QStringLiteral("/usr/bin") << 1u << 6u;
    QTest::newRow("no directory finds nothing")
        << list << QStringLiteral("quorrin") << QString() << 1u << 0u;
    QTest::newRow("a name with a directory finds nothing")
        << list << QStringLiteral("/opt/q/quorrin") << dir << 1u << 0u;
    QTest::newRow("another extension finds nothing")
        << list << QStringLiteral("quorrin.exe") << dir << 1u << 0u;
    QTest::newRow("part of a name finds nothing")
        << list << QStringLiteral("quor") << dir << 1u << 0u;
    QTest::newRow("empty name finds nothing") << list << QString() << dir << 1u << 0u;
    QTest::newRow("empty list") << ProcessList() << QStringLiteral("quorrin") << dir << 1u << 0u;
}

void TestKillProcess::lookup()
{
    QFETCH(ProcessList, processes);
    QFETCH(QString, exeName);
    QFETCH(QString, directory);
    QFETCH(quint32, ownId);
    QFETCH(quint32, found);
    QCOMPARE(findProcessInList(processes, exeName, directory, ownId, 1000), found);
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
    QCOMPARE(isSingleProcessId(processId), delivered);
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
    QCOMPARE(FindProcessByName(otherCase, copies.directory()), lower);
    QVERIFY(KillProcessByName(otherCase.toUpper(), copies.directory()));
    QVERIFY(copies.endedBySignal(lower));

    QCOMPARE(FindProcessByName(copies.name(), copies.directory()), higher);
    QVERIFY(TerminateProcessById(higher));
    QVERIFY(copies.endedBySignal(higher));
    QCOMPARE(FindProcessByName(copies.name(), copies.directory()), 0u);
    QVERIFY(!KillProcessByName(copies.name(), copies.directory()));
}

void TestKillProcess::namesThatFindNothing()
{
    SleeperCopies copies;
    QVERIFY(copies.install());
    QVERIFY(copies.start() != 0);
    QVERIFY(FindProcessByName(copies.name(), copies.directory()) != 0);

    QCOMPARE(FindProcessByName(copies.path(), copies.directory()), 0u);
    QCOMPARE(FindProcessByName(copies.name() + QStringLiteral(".exe"), copies.directory()), 0u);
    QCOMPARE(FindProcessByName(copies.name().chopped(1), copies.directory()), 0u);
    QCOMPARE(FindProcessByName(QString(), copies.directory()), 0u);
    QVERIFY(!KillProcessByName(QString(), copies.directory()));
}

void TestKillProcess::findsProgramWhoseFileWasDeleted()
{
    // As when an installer replaces the running program's file.
    SleeperCopies copies;
    QVERIFY(copies.install());
    const quint32 id = copies.start();
    QVERIFY(id != 0);
    QVERIFY(QFile::remove(copies.path()));
    QCOMPARE(FindProcessByName(copies.name(), copies.directory()), id);
}

// Two copies of one name in two directories: only the one in the directory asked for counts,
// also when that directory is reached through a symbolic link.
void TestKillProcess::onlyCopiesInTheDirectory()
{
    SleeperCopies here;
    SleeperCopies elsewhere;
    QVERIFY(here.install() && elsewhere.install());
    const quint32 elsewhereId = elsewhere.start();
    const quint32 hereId = here.start();
    QVERIFY(hereId != 0 && elsewhereId != 0);

    QTemporaryDir links;
    const QString link = links.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(here.directory(), link));
    QCOMPARE(FindProcessByName(here.name(), link), hereId);
    QCOMPARE(FindProcessByName(here.name(), links.path()), 0u);
    QVERIFY(KillProcessByName(here.name(), here.directory()));
    QVERIFY(here.endedBySignal(hereId));
    QCOMPARE(FindProcessByName(elsewhere.name(), elsewhere.directory()), elsewhereId);
    QVERIFY(!KillProcessByName(here.name(), here.directory()));
}

void TestKillProcess::otherUsersCopyNotFound()
{
    if (::getuid() != 0)
        QSKIP("needs root to start a process for another user");
    SleeperCopies copies;
    QVERIFY(copies.install());
    QVERIFY(QFile::setPermissions(copies.directory(), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ExeOwner | QFile::ReadOther |
                                                          QFile::ExeOther));
    const quint32 foreign = copies.start(65534);
    QVERIFY(foreign != 0);
    QTRY_COMPARE(findProcessInList(runningProcesses(), copies.name(), copies.directory(), 0, 65534),
                 foreign); // it runs, as that user
    QCOMPARE(FindProcessByName(copies.name(), copies.directory()), 0u);
    const quint32 own = copies.start();
    QVERIFY(own != 0);
    QCOMPARE(FindProcessByName(copies.name(), copies.directory()), own);
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
