// Quorrin as started from a shell or by the desktop, each start a process of its own: its
// options, the one window of a user and data directory, and the starts that hand it addresses.
#include "handoverclient.h"
#include "handovermessage.h"
#include "handoverplace.h"
#include "programdirectory.h"
#include "quorrinprogram.h"
#include "testfiles.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace quorrin;
using namespace quorrin::downloader;
using namespace std::chrono_literals;

namespace {

// A child started with this is a Quorrin whose program directory it names.
const char ProgramVariable[] = "QUORRIN_START_PROGRAM_DIRECTORY";

int runAsQuorrin(int argc, char *argv[])
{
    Form1::Services services;
    services.programDirectory = qEnvironmentVariable(ProgramVariable);
    services.updaterShipped = false;
    return runQuorrin(argc, argv, std::move(services));
}

const QString QueueFull = QStringLiteral("quorrin : %1 adresses n'ont pas trouvé place dans la "
                                         "file (32\u202f767 entrées au plus)\n");

} // namespace

class TestQuorrinStart : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<QTemporaryDir> m_program;
    std::vector<std::unique_ptr<QProcess>> m_starts;

    // Starts Quorrin with `arguments`, as a user would from a shell.
    QProcess *start(const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", m_runtime->path());
        environment.insert(ProgramVariable, m_program->path());
        environment.remove("DESKTOP_STARTUP_ID");
        environment.remove("XDG_ACTIVATION_TOKEN");
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationFilePath(), arguments);
        m_starts.push_back(std::move(process));
        return m_starts.back().get();
    }
    // How many entries the window's queue holds, asked as a start without addresses asks;
    // -1 while no window answers.
    int windowEntries() const
    {
        const Result<HandOverPlace> place =
            handOverPlace(m_runtime->path(), dataDirectory(m_program->path()));
        if (!place)
            return -1;
        const Delivery delivery =
            deliverHandOver(place.value().socketPath, serializeHandOver({}), 10s);
        return delivery.outcome == Delivery::Outcome::Answered ? delivery.reply.entries : -1;
    }
    static bool ended(QProcess *process) { return process->state() == QProcess::NotRunning; }
    QString list(int lines) const
    {
        const QString path = m_program->filePath(QStringLiteral("list-%1.txt").arg(lines));
        QByteArray text;
        for (int i = 0; i < lines; ++i)
            text += "http://127.0.0.1:9/f" + QByteArray::number(i) + ".zip\n";
        test::writeFile(path, text);
        return path;
    }

private Q_SLOTS:
    void init()
    {
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(QFile::setPermissions(m_runtime->path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_program = std::make_unique<QTemporaryDir>();
    }

    void cleanup()
    {
        for (const std::unique_ptr<QProcess> &process : m_starts) {
            process->terminate();
            if (!process->waitForFinished(10000))
                process->kill();
            process->waitForFinished();
        }
        m_starts.clear();
    }

    // Options and lists that cannot be read end the start with one line and status 2, before
    // any window.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("error");
        QTest::newRow("unknown option")
            << QStringList{"http://h/1", "--bogus"} << 2 << QString()
            << "quorrin : option inconnue « --bogus » (quorrin --help donne la liste des "
               "options)\n";
        QTest::newRow("list that cannot be read")
            << QStringList{"-i", "/nonexistent/list.txt"} << 2 << QString()
            << "quorrin : impossible de lire « /nonexistent/list.txt » : fichier introuvable\n";
        QTest::newRow("version") << QStringList{"--version"} << 0
                                 << QStringLiteral("quorrin " QUORRIN_VERSION "\n") << QString();
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QProcess *quorrin = start(arguments);
        QVERIFY(quorrin->waitForFinished(20000));
        QCOMPARE(quorrin->exitStatus(), QProcess::NormalExit);
        QCOMPARE(quorrin->exitCode(), status);
        QCOMPARE(QString::fromUtf8(quorrin->readAllStandardOutput()), output);
        QCOMPARE(QString::fromUtf8(quorrin->readAllStandardError()), error);
        QCOMPARE(windowEntries(), -1);
    }

    // A second start hands its addresses to the window and ends with status 0; one without
    // addresses changes nothing in the queue.
    void secondStartHandsOver()
    {
        QProcess *window = start({"http://127.0.0.1:9/a.zip", "http://127.0.0.1:9/b.zip"});
        QTRY_COMPARE_WITH_TIMEOUT(windowEntries(), 2, 20000);
        for (const QStringList &arguments : {QStringList{"http://127.0.0.1:9/c.zip"}, {}}) {
            QProcess *second = start(arguments);
            QVERIFY(second->waitForFinished(20000));
            QCOMPARE(second->exitCode(), 0);
            QCOMPARE(second->readAllStandardError(), QByteArray());
        }
        QCOMPARE(windowEntries(), 3);
        QVERIFY(!ended(window));
    }

    // Starts at the same moment make one window, which queues every start's address.
    void simultaneousStartsMakeOneWindow()
    {
        constexpr int Starts = 4;
        QList<QProcess *> starts;
        for (int i = 0; i < Starts; ++i)
            starts << start({QStringLiteral("http://127.0.0.1:9/%1.zip").arg(i)});
        QTRY_COMPARE_WITH_TIMEOUT(int(std::count_if(starts.begin(), starts.end(), ended)),
                                  Starts - 1, 30000);
        for (QProcess *quorrin : starts) {
            if (ended(quorrin))
                QCOMPARE(quorrin->exitCode(), 0);
        }
        QCOMPARE(windowEntries(), Starts);
        QCOMPARE(int(std::count_if(starts.begin(), starts.end(), ended)), Starts - 1);
    }

    // A window killed leaves its socket; the next start becomes the window all the same.
    void killedWindowLeavesNothingInTheWay()
    {
        QProcess *killed = start({"http://127.0.0.1:9/a.zip"});
        QTRY_COMPARE_WITH_TIMEOUT(windowEntries(), 1, 20000);
        killed->kill();
        QVERIFY(killed->waitForFinished());
        const QStringList sockets =
            QDir(m_runtime->path()).entryList({"quorrin-*.socket"}, QDir::System);
        QCOMPARE(sockets.size(), 1);

        QProcess *window = start({"http://127.0.0.1:9/d.zip"});
        QTRY_COMPARE_WITH_TIMEOUT(windowEntries(), 1, 20000);
        QVERIFY(!ended(window));
    }

    // A list of addresses fills the queue; what does not fit is told, by the window's own
    // start as by a later one.
    void inputFile_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("beyond");
        QTest::newRow("a full queue") << 32767 << QString();
        QTest::newRow("more than a queue holds") << 40000 << QueueFull.arg("7\u202f233");
    }
    void inputFile()
    {
        QFETCH(int, lines);
        QFETCH(QString, beyond);
        QProcess *window = start({"-i", list(lines)});
        QTRY_COMPARE_WITH_TIMEOUT(windowEntries(), 32767, 20000);

        QProcess *second = start({"--input-file", list(lines)});
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(QString::fromUtf8(second->readAllStandardError()),
                 QueueFull.arg(QLocale(QLocale::French).toString(lines)));

        // All the window's start has told is there once it has ended.
        window->terminate();
        QVERIFY(window->waitForFinished(20000));
        QCOMPARE(window->exitCode(), 0);
        const QString told = QString::fromUtf8(window->readAllStandardError());
        QVERIFY2(beyond.isEmpty() ? !told.contains("place dans la file") : told.contains(beyond),
                 qPrintable(told));
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(ProgramVariable))
        return runAsQuorrin(argc, argv);
    QCoreApplication application(argc, argv);
    TestQuorrinStart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quorrinstart.moc"
