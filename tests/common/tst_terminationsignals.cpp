#include "terminationsignals.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>

using namespace quorrin;

namespace {

const char ChildMode[] = "QUORRIN_SIGNALS_AFTER_APPLICATION";

// The program's life in the child: a handler while the application lives, then SIGTERM once
// it has gone; the default handler ends the process.
int signalAfterApplication(int argc, char *argv[])
{
    {
        QCoreApplication application(argc, argv);
        onTerminationSignal([] {});
    }
    ::raise(SIGTERM);
    return 0;
}

} // namespace

class TestTerminationSignals : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Many signals while the event loop is busy elsewhere: none blocks the process, errno is
    // as the interrupted code left it, and they ask for one end.
    void burstWhileBusy()
    {
        int calls = 0;
        onTerminationSignal([&calls] { ++calls; });
        for (int i = 0; i < 5000; ++i) {
            errno = EDOM;
            ::raise(SIGTERM);
            QCOMPARE(errno, EDOM);
        }
        QTRY_COMPARE(calls, 1);
        QTest::qWait(50);
        QCOMPARE(calls, 1);
    }

    void defaultHandlerAfterApplication()
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(ChildMode), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(10000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(ChildMode))
        return signalAfterApplication(argc, argv);
    QCoreApplication application(argc, argv);
    TestTerminationSignals test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_terminationsignals.moc"
