#include "form1.h"
#include "httpserver.h"
#include "killprocess.h"
#include "messagebox.h"
#include "programdirectory.h"
#include "shellopen.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <httplib.h>

using namespace quorrin;
using namespace quorrin::updater;

namespace {

const QByteArray Installer = "installer bytes";

} // namespace

class TestUpdaterForm : public QObject {
    Q_OBJECT

    std::unique_ptr<test::HttpServer> m_server;
    std::atomic<int> m_installerRequests{0};
    std::string m_page;
    std::unique_ptr<QTemporaryDir> m_programDir;
    QList<Message> m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    QStringList m_opened;
    QList<quint32> m_terminated;
    bool m_canOpen = true; // whether the desktop has something that opens the installer

    std::unique_ptr<updater::Form1> makeForm(const QString &commandLine)
    {
        updater::Form1::Services services;
        services.baseUrl = m_server->url("/site/");
        services.screenGeometry = [] { return QRect(0, 0, 1280, 1024); };
        services.showMessage = [this](QWidget *, const Message &message) {
            m_messages << message;
            return m_answer;
        };
        services.shellOpen = [this](const QString &file, const QString &) { m_opened << file; };
        services.canOpen = [this](const QString &) { return m_canOpen; };
        services.terminate = [this](quint32 id) {
            m_terminated << id;
            return true;
        };
        services.programDirectory = m_programDir->path();
        return std::make_unique<updater::Form1>(commandLine, std::move(services));
    }
    static QString fields(const QString &revision, const QString &executable = "quorrin")
    {
        return "setup_quorrin\t" + revision + "\tQuorrin\t" + executable;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::HttpServer>([this](httplib::Server &server) {
            server.Get("/site/vb_addons.htm",
                       [this](const httplib::Request &, httplib::Response &response) {
                           response.set_content(m_page, "text/html");
                       });
            server.Get("/site/setup_quorrin4.exe", [this](const httplib::Request &,
                                                          httplib::Response &response) {
                ++m_installerRequests;
                response.set_content(Installer.toStdString(), "application/octet-stream");
            });
        });
    }

    void init()
    {
        m_programDir = std::make_unique<QTemporaryDir>();
        m_page = "<html><body><p>Quorrin</p><A href=\"setup_quorrin4.exe\">v4</A></body></html>";
        m_installerRequests = 0;
        m_messages.clear();
        m_opened.clear();
        m_terminated.clear();
        m_canOpen = true;
    }

    void manualLaunch_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("yes opens the page")
            << int(QMessageBox::Yes) << QStringList{"/site/vb_addons.htm"};
        QTest::newRow("no opens nothing") << int(QMessageBox::No) << QStringList{};
    }
    void manualLaunch()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, opened);
        m_answer = QMessageBox::StandardButton(answer);
        auto form = makeForm(QString());
        QSignalSpy ended(form.get(), &updater::Form1::ended);
        QVERIFY(!form->Form_Load());
        QCOMPARE(ended.size(), 1);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].title, QStringLiteral("Updater : lancement manuel"));
        QVERIFY(m_messages[0].text.contains(m_server->url("/site/vb_addons.htm")));
        QCOMPARE(m_messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(m_messages[0].defaultButton, QMessageBox::Yes);
        QVERIFY(m_messages[0].aboveAllWindows);
        for (QString &path : opened)
            path = m_server->url(path);
        QCOMPARE(m_opened, opened);
        QVERIFY(!form->isVisible());
    }

    void tooFewFieldsEndSilently()
    {
        auto form = makeForm("setup_quorrin\t3\tQuorrin");
        QSignalSpy ended(form.get(), &updater::Form1::ended);
        QVERIFY(!form->Form_Load());
        QCOMPARE(ended.size(), 1);
        QVERIFY(m_messages.isEmpty());
    }

    void upToDateEndsWithoutWindow()
    {
        auto form = makeForm(fields("4"));
        QSignalSpy ended(form.get(), &updater::Form1::ended);
        QVERIFY(form->Form_Load());
        QVERIFY(ended.wait(10000));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!form->isVisible());
        QCOMPARE(m_installerRequests.load(), 0);
    }

    void pageWithoutLinkSaysSo_data()
    {
        QTest::addColumn<QString>("page");
        QTest::newRow("no link") << "<body>nothing here</body>";
        QTest::newRow("lower-case tag") << "<body><a href=\"setup_quorrin4.exe\">v4</a></body>";
    }
    void pageWithoutLinkSaysSo()
    {
        QFETCH(QString, page);
        m_page = page.toStdString();
        auto form = makeForm(fields("3", "quorrin").replace("Quorrin\t", " Quorrin\t"));
        QSignalSpy ended(form.get(), &updater::Form1::ended);
        QVERIFY(form->Form_Load());
        QVERIFY(ended.wait(10000));
        QCOMPARE(m_messages.size(), 1);
        // A leading space belongs to the field: two spaces after "de".
        QCOMPARE(m_messages[0].title, QStringLiteral("Mise à jour de  Quorrin"));
        QVERIFY(m_messages[0].text.startsWith(
            QStringLiteral("Impossible de trouver la page des mises à jour de  Quorrin !")));
        QCOMPARE(m_messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(m_messages[0].aboveAllWindows);
    }

    // The whole road: download, notification rising at the bottom right, a click that ends
    // the caller and opens the installer once, and the end after sinking. Where nothing on the
    // desktop opens the installer, the click leaves the caller running and says so once.
    void newerRevisionNotifies_data()
    {
        QTest::addColumn<bool>("canOpen");
        QTest::newRow("the desktop opens the installer") << true;
        QTest::newRow("nothing opens the installer") << false;
    }
    void newerRevisionNotifies()
    {
        QFETCH(bool, canOpen);
        m_canOpen = canOpen;
        // The caller, running from the updater's directory.
        QVERIFY(QFile::copy("/bin/sleep", m_programDir->filePath("QuorrinTestCaller")));
        QProcess caller;
        caller.start(m_programDir->filePath("QuorrinTestCaller"), {"60"});
        QVERIFY(caller.waitForStarted());
        auto form = makeForm(fields("3", "QuorrinTestCaller"));
        QSignalSpy ended(form.get(), &updater::Form1::ended);
        QVERIFY(form->Form_Load());
        QVERIFY(!form->isVisible());
        const QString installer = m_programDir->filePath("setup_quorrin4.exe");
        QTRY_COMPARE_WITH_TIMEOUT(form->installerPath(), installer, 10000);
        // The path is known once the page is read; the notification shows once the installer
        // is complete.
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 10000);
        QFile file(installer);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), Installer);
        QCOMPARE(
            form->findChild<QLabel *>("labMess")->text(),
            QStringLiteral("Une nouvelle version de\nQuorrin  (révision 4)\nest disponible !\n\n"
                           "Cliquez ici pour l'installer."));
        QVERIFY(QApplication::focusWidget() == nullptr ||
                !form->isAncestorOf(QApplication::focusWidget()));
        QCOMPARE(form->x(), qRound((1280 * 15 - 2955 - 50) / 15.0)); // 50 twips from the right
        QTRY_VERIFY_WITH_TIMEOUT(form->y() < 1024 - 111 - 500 / 15, 5000); // risen and resting
        QTest::mouseClick(form.get(), Qt::LeftButton);
        QTest::mouseClick(form.get(), Qt::LeftButton); // a second click launches nothing more
        QCOMPARE(m_opened, canOpen ? QStringList{installer} : QStringList{});
        QCOMPARE(m_terminated,
                 canOpen ? QList<quint32>{quint32(caller.processId())} : QList<quint32>{});
        QCOMPARE(m_messages.size(), canOpen ? 0 : 1);
        if (!canOpen) {
            QCOMPARE(m_messages[0].title, QStringLiteral("Mise à jour de Quorrin"));
            QVERIFY(m_messages[0].text.contains(installer));
            QVERIFY(m_messages[0].aboveAllWindows);
        }
        QVERIFY(ended.wait(10000));
        QCOMPARE(m_installerRequests.load(), 1);
        caller.kill();
        caller.waitForFinished();
    }

    void installerAlreadyPresentIsNotFetchedAgain()
    {
        QFile file(m_programDir->filePath("setup_quorrin4.exe"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("from yesterday");
        file.close();
        auto form = makeForm(fields("3"));
        QVERIFY(form->Form_Load());
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible(), 10000);
        QCOMPARE(m_installerRequests.load(), 0);
    }
};

QTEST_MAIN(TestUpdaterForm)
#include "tst_updaterform.moc"
