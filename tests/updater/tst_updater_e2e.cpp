// The real updater program, on a real X server, against an update site on loopback.
#include "httpserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <httplib.h>
#include <mutex>

#ifndef LOOPBACK_UPDATER
#error "LOOPBACK_UPDATER names the updater built for this test"
#endif
#if !defined(MINISIGN_PROGRAM) || !defined(LOOPBACK_SECRET_KEY)
#error "MINISIGN_PROGRAM and LOOPBACK_SECRET_KEY sign installers with the loopback updater's key"
#endif

namespace {

const QByteArray Installer = "#!/bin/sh\necho installer\n";

// Runs a command to its end and returns what it printed.
QString run(const QString &program, const QStringList &arguments, const QString &display)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestUpdaterEndToEnd : public QObject {
    Q_OBJECT

    QProcess m_xserver;
    QString m_display;
    std::unique_ptr<quorrin::test::HttpServer> m_server;
    std::atomic<int> m_pageRevision{4};
    std::atomic<int> m_installerRequests{0};
    std::mutex m_signatureLock;
    std::string m_signature; // the installer's .minisig as the site serves it
    QTemporaryDir m_dir;

    // The installer's signature by the loopback updater's key, made by the minisign tool.
    QByteArray signInstaller()
    {
        const QString installer = m_dir.filePath("signed/setup_quorrin4.exe");
        QDir().mkpath(m_dir.filePath("signed"));
        QFile file(installer);
        if (!file.open(QIODevice::WriteOnly) || file.write(Installer) != Installer.size())
            return {};
        file.close();
        QProcess minisign;
        minisign.start(MINISIGN_PROGRAM, {"-S", "-m", installer, "-s", LOOPBACK_SECRET_KEY});
        minisign.closeWriteChannel();
        if (!minisign.waitForFinished(30000) || minisign.exitCode() != 0)
            return {};
        QFile signature(installer + ".minisig");
        return signature.open(QIODevice::ReadOnly) ? signature.readAll() : QByteArray();
    }

    QString windowNamed(const QString &name)
    {
        return run("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"}, m_display);
    }
    // x, y, width, height of a window on the screen.
    QList<int> geometry(const QString &window)
    {
        const QString shell = run("xdotool", {"getwindowgeometry", "--shell", window}, m_display);
        QList<int> values;
        for (const char *key : {"X=", "Y=", "WIDTH=", "HEIGHT="}) {
            const qsizetype at = shell.indexOf(QLatin1String(key));
            values << shell.mid(at + qstrlen(key)).section('\n', 0, 0).toInt();
        }
        return values;
    }
    void startUpdater(QProcess &updater, const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", m_display);
        environment.insert("QT_QPA_PLATFORM", "xcb");
        updater.setProcessEnvironment(environment);
        updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        updater.start(m_dir.filePath("updater"), arguments);
        QVERIFY(updater.waitForStarted());
    }

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP("needs Xvfb and xdotool");
        }
        for (int number = 140; number < 200 && m_display.isEmpty(); ++number) {
            if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
                m_display = QStringLiteral(":%1").arg(number);
        }
        // Without -noreset the server resets whenever its last client leaves, and a program
        // that connects during the reset is refused.
        m_xserver.start(
            "Xvfb", {m_display, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"});
        QVERIFY(m_xserver.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!run("xdotool", {"getdisplaygeometry"}, m_display).isEmpty(),
                                 10000);

        m_server = std::make_unique<quorrin::test::HttpServer>(
            [this](httplib::Server &server) {
                server.Get("/site/vb_addons.htm", [this](const httplib::Request &,
                                                         httplib::Response &response) {
                    const std::string revision = std::to_string(m_pageRevision.load());
                    response.set_content("<html><body><A href=\"setup_quorrin" + revision +
                                             ".exe\">Quorrin</A></body></html>",
                                         "text/html");
                });
                server.Get("/site/setup_quorrin4.exe.minisig",
                           [this](const httplib::Request &, httplib::Response &response) {
                               const std::lock_guard lock(m_signatureLock);
                               response.set_content(m_signature, "text/plain");
                           });
                server.Get("/site/setup_quorrin4.exe", [this](const httplib::Request &,
                                                              httplib::Response &response) {
                    ++m_installerRequests;
                    response.set_content(Installer.toStdString(), "application/octet-stream");
                });
            },
            LOOPBACK_UPDATER_PORT);
        const QByteArray signature = signInstaller();
        QVERIFY(signature.startsWith("untrusted comment: "));
        m_signature = signature.toStdString();
        QVERIFY(QFile::copy(LOOPBACK_UPDATER, m_dir.filePath("updater")));
        QVERIFY(QFile::copy("/bin/sleep", m_dir.filePath("quorrin")));
    }

    void cleanupTestCase()
    {
        m_xserver.terminate();
        m_xserver.waitForFinished();
    }

    void init() { QFile::remove(m_dir.filePath("setup_quorrin4.exe")); }

    void upToDateEndsWithoutWindow()
    {
        m_pageRevision = 3;
        QProcess updater;
        startUpdater(updater, {"setup_quorrin\t3\tQuorrin\tquorrin"});
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 0);
        QCOMPARE(m_installerRequests.load(), 0);
        QVERIFY(!QFile::exists(m_dir.filePath("setup_quorrin3.exe")));
    }

    // A newer revision: the installer lands beside the updater, the notification slides up
    // at the bottom right, and a click ends the caller beside the updater, and no program of
    // the same name elsewhere (such as a Quorrin that the developer has open).
    void newerRevisionNotifiesAndClickEndsCaller()
    {
        m_pageRevision = 4;
        QTemporaryDir elsewhere;
        QVERIFY(QFile::copy("/bin/sleep", elsewhere.filePath("quorrin")));
        QProcess other;
        other.start(elsewhere.filePath("quorrin"), {"60"});
        QVERIFY(other.waitForStarted());
        QProcess caller;
        caller.start(m_dir.filePath("quorrin"), {"60"});
        QVERIFY(caller.waitForStarted());
        QProcess updater;
        startUpdater(updater, {"setup_quorrin\t3\tQuorrin\tquorrin"});

        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath("setup_quorrin4.exe")), 15000);
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(!(window = windowNamed("Form1")).isEmpty(), 10000);
        QElapsedTimer rising;
        rising.start();
        QList<int> place;
        // Risen: the bottom edge a little more than 500 twips (33 pixels) above the screen's.
        QTRY_VERIFY_WITH_TIMEOUT((place = geometry(window)).at(1) + 111 < 1024 - 33, 10000);
        QCOMPARE(place.at(0) + place.at(2), 1280 - 3); // 50 twips from the right edge
        QCOMPARE(place.mid(2), (QList<int>{197, 111}));
        QFile installer(m_dir.filePath("setup_quorrin4.exe"));
        QVERIFY(installer.open(QIODevice::ReadOnly));
        QCOMPARE(installer.readAll(), Installer);

        run("xdotool", {"mousemove", "--window", window, "100", "50", "click", "1"}, m_display);
        QVERIFY(caller.waitForFinished(5000));
        QCOMPARE(caller.exitStatus(), QProcess::CrashExit); // ended by a signal
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 0);
        QCOMPARE(m_installerRequests.load(), 1);
        QCOMPARE(other.state(), QProcess::Running);
        other.kill();
        other.waitForFinished();
    }

    void startedByHandAsks()
    {
        QProcess updater;
        startUpdater(updater, {});
        QString question;
        QTRY_VERIFY_WITH_TIMEOUT(!(question = windowNamed("Updater : lancement manuel")).isEmpty(),
                                 10000);
        run("xdotool", {"windowfocus", "--sync", question, "key", "Escape"}, m_display);
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdaterEndToEnd)
#include "tst_updater_e2e.moc"
