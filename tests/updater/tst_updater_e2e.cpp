// The real updater program, on a real X server, against an update site on loopback.
#include "httpserver.h"
#include "xserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <httplib.h>
#include <mutex>
#include <thread>

#ifndef LOOPBACK_UPDATER
#error "LOOPBACK_UPDATER names the updater built for this test"
#endif
#if !defined(MINISIGN_PROGRAM) || !defined(LOOPBACK_SECRET_KEY)
#error "MINISIGN_PROGRAM and LOOPBACK_SECRET_KEY sign installers with the loopback updater's key"
#endif

namespace {

const QByteArray Installer = "#!/bin/sh\necho installer\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUpdaterEndToEnd : public QObject {
    Q_OBJECT

    std::unique_ptr<quorrin::test::XServer> m_x;

    std::unique_ptr<quorrin::test::HttpServer> m_server;
    std::atomic<int> m_pageRevision{4};
    std::atomic<int> m_installerRequests{0};
    std::atomic<bool> m_slowInstaller{false};
    std::mutex m_signatureLock;
    std::string m_signature; // the installer's .minisig as the site serves it; 404 when empty
    QByteArray m_goodSignature;
    QTemporaryDir m_dir;
    QTemporaryDir m_desktop; // the updater's desktop: its opener and its applications

    QString openerRecord() const { return m_desktop.filePath("opened.txt"); }
    QString runnerEntry() const { return m_desktop.filePath("data/applications/runner.desktop"); }
    // A desktop of the test's own: an opener (xdg-open) that records what it is given, and
    // the installer's type registered to an application, or nothing registered.
    void makeDesktop()
    {
        QVERIFY(QDir(m_desktop.path()).mkpath("bin"));
        QVERIFY(QDir(m_desktop.path()).mkpath("config"));
        QVERIFY(QDir(m_desktop.path()).mkpath("data/applications"));
        QVERIFY(QDir(m_desktop.path()).mkpath("none"));
        // The types of files are the system's.
        const QString types = QStandardPaths::locate(QStandardPaths::GenericDataLocation, "mime",
                                                     QStandardPaths::LocateDirectory);
        QVERIFY(!types.isEmpty());
        QVERIFY(QFile::link(types, m_desktop.filePath("data/mime")));
        QFile opener(m_desktop.filePath("bin/xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + openerRecord().toUtf8() + "'\n");
        opener.close();
        QVERIFY(opener.setPermissions(opener.permissions() | QFile::ExeOwner));
    }
    void registerRunner(bool registered)
    {
        QFile::remove(runnerEntry());
        if (!registered)
            return;
        const QString type =
            QMimeDatabase()
                .mimeTypeForFile("setup_quorrin4.exe", QMimeDatabase::MatchExtension)
                .name();
        QFile entry(runnerEntry());
        QVERIFY(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Runner\nExec=/bin/true %f\n"
                    "MimeType=" +
                    type.toUtf8() + ";\n");
    }

    // A signature of `content` by `secretKey`, made by the minisign tool with `options`.
    QByteArray sign(const QByteArray &content, const QString &secretKey,
                    const QStringList &options = {})
    {
        QTemporaryDir directory;
        const QString file = directory.filePath("setup_quorrin4.exe");
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return {};
        out.close();
        QProcess minisign;
        minisign.start(MINISIGN_PROGRAM, QStringList{"-S", "-m", file, "-s", secretKey} + options);
        minisign.closeWriteChannel();
        if (!minisign.waitForFinished(30000) || minisign.exitCode() != 0)
            return {};
        QFile signature(file + ".minisig");
        return signature.open(QIODevice::ReadOnly) ? signature.readAll() : QByteArray();
    }
    void serveSignature(const QByteArray &signature)
    {
        const std::lock_guard lock(m_signatureLock);
        m_signature = signature.toStdString();
    }

    QString windowNamed(const QString &name)
    {
        return m_x->run("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"});
    }
    // x, y, width, height of a window on the screen.
    QList<int> geometry(const QString &window)
    {
        const QString shell = m_x->run("xdotool", {"getwindowgeometry", "--shell", window});
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
        environment.insert("DISPLAY", m_x->display());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("PATH", m_desktop.filePath("bin") + ":" + environment.value("PATH"));
        environment.insert("XDG_CONFIG_HOME", m_desktop.filePath("config"));
        environment.insert("XDG_CONFIG_DIRS", m_desktop.filePath("none"));
        environment.insert("XDG_DATA_HOME", m_desktop.filePath("data"));
        environment.insert("XDG_DATA_DIRS", m_desktop.filePath("none"));
        environment.remove("XDG_CURRENT_DESKTOP");
        updater.setProcessEnvironment(environment);
        updater.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        updater.start(m_dir.filePath("updater"), arguments);
        QVERIFY(updater.waitForStarted());
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!quorrin::test::XServer::available())
            QSKIP("needs Xvfb and xdotool");
        m_x = std::make_unique<quorrin::test::XServer>(140);
        QVERIFY(!m_x->display().isEmpty());

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
                               if (m_signature.empty())
                                   response.status = 404;
                               else
                                   response.set_content(m_signature, "text/plain");
                           });
                server.Get("/site/setup_quorrin4.exe", [this](const httplib::Request &,
                                                              httplib::Response &response) {
                    ++m_installerRequests;
                    if (!m_slowInstaller) {
                        response.set_content(Installer.toStdString(), "application/octet-stream");
                        return;
                    }
                    // A kibibyte every 50 ms of a mebibyte: a download that lasts.
                    response.set_content_provider(1 << 20, "application/octet-stream",
                                                  [](size_t, size_t, httplib::DataSink &sink) {
                                                      std::this_thread::sleep_for(
                                                          std::chrono::milliseconds(50));
                                                      const std::string chunk(1024, 'i');
                                                      return sink.write(chunk.data(), chunk.size());
                                                  });
                });
            },
            LOOPBACK_UPDATER_PORT);
        m_goodSignature = sign(Installer, LOOPBACK_SECRET_KEY);
        QVERIFY(m_goodSignature.startsWith("untrusted comment: "));
        QVERIFY(QFile::copy(LOOPBACK_UPDATER, m_dir.filePath("updater")));
        QVERIFY(QFile::copy("/bin/sleep", m_dir.filePath("quorrin")));
        makeDesktop();
    }

    void cleanupTestCase() { m_x.reset(); }

    void init()
    {
        QFile::remove(m_dir.filePath("setup_quorrin4.exe"));
        QFile::remove(openerRecord());
        registerRunner(true);
        serveSignature(m_goodSignature);
    }

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
    // the same name elsewhere (such as a Quorrin that the developer has open), and hands the
    // installer to the desktop's opener. On a desktop where nothing opens the installer, the
    // click ends nothing and a box, in front and with the keyboard, says so.
    void newerRevisionNotifiesAndClickEndsCaller_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::newRow("an application opens the installer") << true;
        QTest::newRow("nothing opens the installer") << false;
    }
    void newerRevisionNotifiesAndClickEndsCaller()
    {
        QFETCH(bool, registered);
        registerRunner(registered);
        m_pageRevision = 4;
        m_installerRequests = 0;
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
        QList<int> place;
        // Risen: the bottom edge a little more than 500 twips (33 pixels) above the screen's.
        QTRY_VERIFY_WITH_TIMEOUT((place = geometry(window)).at(1) + 111 < 1024 - 33, 10000);
        QCOMPARE(place.at(0) + place.at(2), 1280 - 3); // 50 twips from the right edge
        QCOMPARE(place.mid(2), (QList<int>{197, 111}));
        QFile installer(m_dir.filePath("setup_quorrin4.exe"));
        QVERIFY(installer.open(QIODevice::ReadOnly));
        QCOMPARE(installer.readAll(), Installer);

        m_x->run("xdotool", {"mousemove", "--window", window, "100", "50", "click", "1"});
        if (registered) {
            QVERIFY(caller.waitForFinished(5000));
            QCOMPARE(caller.exitStatus(), QProcess::CrashExit); // ended by a signal
            const QUrl opened = QUrl::fromLocalFile(m_dir.filePath("setup_quorrin4.exe"));
            QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readAll(openerRecord())).trimmed(),
                                      opened.toString(), 5000);
        } else {
            QString box;
            // Window names are matched as bytes: the accented title is found by its end.
            QTRY_VERIFY_WITH_TIMEOUT(!(box = windowNamed(".* de Quorrin")).isEmpty(), 10000);
            QTRY_COMPARE_WITH_TIMEOUT(m_x->run("xdotool", {"getwindowfocus"}), box, 5000);
            QCOMPARE(caller.state(), QProcess::Running);
            QVERIFY(!QFile::exists(openerRecord()));
            // To the focus, which the box holds: a key aimed at a window that closes on the
            // press is never released, and repeats into the next window that has the focus.
            m_x->run("xdotool", {"key", "Return"});
        }
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 0);
        QCOMPARE(m_installerRequests.load(), 1);
        QCOMPARE(caller.state(), registered ? QProcess::NotRunning : QProcess::Running);
        QCOMPARE(other.state(), QProcess::Running);
        for (QProcess *process : {&caller, &other}) {
            process->kill();
            process->waitForFinished();
        }
    }

    // Only an installer signed by the maker's key is ever offered; anything else leaves
    // nothing beside the updater, shows nothing, and the updater ends by itself.
    void signatureDecidesTheOffer_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<bool>("offered");
        QTest::newRow("legacy signature of the installer") << "legacy" << true;
        QTest::newRow("no signature") << "none" << false;
        QTest::newRow("another key's signature") << "foreign" << false;
        QTest::newRow("signature of another installer") << "tampered" << false;
        QTest::newRow("forged trusted comment") << "forged" << false;
    }

    void signatureDecidesTheOffer()
    {
        QFETCH(QString, signature);
        QFETCH(bool, offered);
        QTemporaryDir keys;
        const QString foreignKey = keys.filePath("foreign.key");
        if (signature == "legacy") {
            serveSignature(sign(Installer, LOOPBACK_SECRET_KEY, {"-l"}));
        } else if (signature == "none") {
            serveSignature({});
        } else if (signature == "foreign") {
            QCOMPARE(QProcess::execute(MINISIGN_PROGRAM,
                                       {"-G", "-W", "-p", keys.filePath("p"), "-s", foreignKey}),
                     0);
            serveSignature(sign(Installer, foreignKey));
        } else if (signature == "tampered") {
            serveSignature(sign(Installer + "#", LOOPBACK_SECRET_KEY));
        } else {
            QList<QByteArray> lines = m_goodSignature.split('\n');
            lines[2] = "trusted comment: revision 5, signed by the maker";
            serveSignature(lines.join('\n'));
        }
        QProcess updater;
        startUpdater(updater, {"setup_quorrin\t3\tQuorrin\tquorrin"});
        if (offered) {
            QTRY_VERIFY_WITH_TIMEOUT(!windowNamed("Form1").isEmpty(), 15000);
            updater.terminate();
            QVERIFY(updater.waitForFinished(5000));
            return;
        }
        QVERIFY(updater.waitForFinished(15000));
        QCOMPARE(updater.exitCode(), 0);
        QVERIFY(!QFile::exists(m_dir.filePath("setup_quorrin4.exe")));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"quorrin", "updater"}));
    }

    // Asked to end in the middle of the installer's download, the updater ends at once and
    // leaves nothing half-downloaded beside it.
    void terminatedDuringDownloadLeavesNothing()
    {
        m_slowInstaller = true;
        m_installerRequests = 0;
        QProcess updater;
        startUpdater(updater, {"setup_quorrin\t3\tQuorrin\tquorrin"});
        QTRY_VERIFY_WITH_TIMEOUT(m_installerRequests.load() == 1, 15000);
        QTest::qWait(500);
        updater.terminate();
        const bool ended = updater.waitForFinished(5000);
        m_slowInstaller = false;
        QVERIFY(ended);
        QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"quorrin", "updater"}));
    }

    void startedByHandAsks()
    {
        QProcess updater;
        startUpdater(updater, {});
        QString question;
        QTRY_VERIFY_WITH_TIMEOUT(!(question = windowNamed("Updater : lancement manuel")).isEmpty(),
                                 10000);
        m_x->run("xdotool", {"windowfocus", "--sync", question, "key", "Escape"});
        QVERIFY(updater.waitForFinished(10000));
        QCOMPARE(updater.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUpdaterEndToEnd)
#include "tst_updater_e2e.moc"
