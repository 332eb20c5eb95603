// Addresses that come to the window from outside it: its command line and later starts.
#include "entrynaming.h"
#include "form1.h"
#include "httpserver.h"
#include "testfiles.h"
#include "widgetdriver.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <httplib.h>
#include <thread>

using namespace quorrin;
using namespace quorrin::downloader;
using quorrin::test::paste;
using quorrin::test::rows;

class TestHandedAddresses : public QObject {
    Q_OBJECT

    std::unique_ptr<test::HttpServer> m_server;
    std::atomic<bool> m_slowReleased{false};
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<Form1> m_form;

    template <typename T> T *control(const char *name) const
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }
    QListWidget *listDl() const { return control<QListWidget>("ListDl"); }
    QAbstractItemView *report() const { return control<QAbstractItemView>("listErr"); }
    QString dl(const QString &name = {}) const { return m_programDir->path() + "/DL/" + name; }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::HttpServer>([this](httplib::Server &server) {
            server.Get(R"(/files/(.+))",
                       [](const httplib::Request &request, httplib::Response &response) {
                           response.set_content("data of " + request.matches[1].str(),
                                                "application/octet-stream");
                       });
            // Held until the test releases it.
            server.Get("/slow.zip", [this](const httplib::Request &, httplib::Response &response) {
                response.set_content_provider(
                    4, "application/octet-stream", [this](size_t, size_t, httplib::DataSink &sink) {
                        while (!m_slowReleased)
                            std::this_thread::sleep_for(std::chrono::milliseconds(5));
                        return sink.write("slow", 4);
                    });
            });
        });
    }

    void init()
    {
        m_slowReleased = false;
        m_programDir = std::make_unique<QTemporaryDir>();
        Form1::Services services;
        services.programDirectory = m_programDir->path();
        services.updaterShipped = false;
        m_form = std::make_unique<Form1>(std::move(services));
    }

    void cleanup()
    {
        m_slowReleased = true;
        m_form.reset();
        m_programDir.reset();
    }

    // Handed addresses queue as pasted lines: after the entries there, named after the
    // address, in the path box's directory, what is no address left out; the last one is in
    // the boxes, selected for the next paste.
    void handedWhileIdle()
    {
        paste(control<QLineEdit>("txtPage"), "http://h/files/a.zip");
        const HandOverReply reply =
            m_form->queueHandedAddresses({"http://h/x/b.iso", "not an address", "ftp://h/c"});
        QCOMPARE(reply, (HandOverReply{2, 0, 3}));
        QCOMPARE(rows(listDl()), (QStringList{"a.zip", "b.iso", "c"}));
        QCOMPARE(m_form->queuedPages(),
                 (QStringList{"http://h/files/a.zip", "http://h/x/b.iso", "ftp://h/c"}));
        QCOMPARE(m_form->queuedPaths(), (QStringList{dl("a.zip"), dl("b.iso"), dl("c")}));
        QCOMPARE(m_form->editedEntry(), 2);
        QCOMPARE(control<QLineEdit>("txtPage")->selectedText(), QStringLiteral("ftp://h/c"));
        QCOMPARE(control<QLabel>("labMess")->text(), QStringLiteral("Fichiers à télécharger :"));
    }

    // The address the box holds already is queued again, as a second paste of it is; so is a
    // line that a paste of several lines repeats.
    void sameAddressAgain()
    {
        paste(control<QLineEdit>("txtPage"), "http://h/files/a.zip");
        QCOMPARE(m_form->queueHandedAddresses({"http://h/files/a.zip"}), (HandOverReply{1, 0, 2}));
        QGuiApplication::clipboard()->setText("http://h/files/b.zip\nhttp://h/files/b.zip");
        QTest::keySequence(control<QLineEdit>("txtPage"), QKeySequence::Paste);
        QCOMPARE(rows(listDl()), (QStringList{"a.zip", "a.zip", "b.zip", "b.zip"}));
    }

    // What a full queue cannot hold is counted and told in the window; lines that are no
    // addresses are not counted among them.
    void handedIntoFullQueue()
    {
        QStringList addresses;
        for (int i = 0; i < MaxQueueEntries - 1; ++i)
            addresses << QStringLiteral("http://h/%1").arg(i);
        QCOMPARE(m_form->queueHandedAddresses(addresses),
                 (HandOverReply{MaxQueueEntries - 1, 0, MaxQueueEntries - 1}));
        const HandOverReply reply = m_form->queueHandedAddresses(
            {"http://h/last", "http://h/too-many", "no slash", "http://h/again/"});
        QCOMPARE(reply, (HandOverReply{1, 2, MaxQueueEntries}));
        QCOMPARE(listDl()->count(), MaxQueueEntries);
        QCOMPARE(m_form->queuedPages().constLast(), QStringLiteral("http://h/last"));
        QCOMPARE(control<QLabel>("labMess")->text(),
                 QStringLiteral("File pleine : 2 adresses non ajoutées"));
        QCOMPARE(m_form->queueHandedAddresses(QStringList(40000 - MaxQueueEntries, "http://h/x")),
                 (HandOverReply{0, 40000 - MaxQueueEntries, MaxQueueEntries}));
        QCOMPARE(control<QLabel>("labMess")->text(),
                 QStringLiteral("File pleine : 7\u202f233 adresses non ajoutées"));
    }

    // During a run, handed addresses join the end of the queue and of the run: each one is
    // downloaded and reported at its turn, after the others, where a paste before the run
    // would have put it.
    void handedDuringRun()
    {
        paste(control<QLineEdit>("txtPage"), m_server->url("/slow.zip"));
        paste(control<QLineEdit>("txtPage"), m_server->url("/files/b.zip"));
        QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QVERIFY(!m_form->ready());
        const HandOverReply reply = m_form->queueHandedAddresses(
            {m_server->url("/files/c.zip"), m_server->url("/files/d.zip")});
        QCOMPARE(reply, (HandOverReply{2, 0, 4}));
        QCOMPARE(rows(listDl()), (QStringList{"slow.zip", "b.zip", "c.zip", "d.zip"}));
        m_slowReleased = true;
        QTRY_VERIFY_WITH_TIMEOUT(m_form->ready(), 20000);
        QStringList expected;
        for (const char *name : {"slow.zip", "b.zip", "c.zip", "d.zip"})
            expected << QStringLiteral("Téléchargement de %1").arg(QLatin1String(name))
                     << QStringLiteral("Téléchargement terminé");
        QCOMPARE(rows(report()), expected);
        QCOMPARE(test::contentOf(dl("c.zip")), QByteArray("data of c.zip"));
        QCOMPARE(test::contentOf(dl("d.zip")), QByteArray("data of d.zip"));
        QCOMPARE(control<QLineEdit>("txtPage")->text(), m_server->url("/files/d.zip"));
        QCOMPARE(m_form->editedEntry(), 3);
    }

    // During a run, what the full queue cannot hold is told in the run's report.
    void handedIntoFullQueueDuringRun()
    {
        QStringList addresses{m_server->url("/slow.zip")};
        for (int i = 1; i < MaxQueueEntries; ++i)
            addresses << m_server->url(QStringLiteral("/files/%1").arg(i));
        m_form->queueHandedAddresses(addresses);
        QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QCOMPARE(m_form->queueHandedAddresses({m_server->url("/files/late.zip")}),
                 (HandOverReply{0, 1, MaxQueueEntries}));
        QTRY_VERIFY(rows(report()).contains("File pleine : 1 adresse non ajoutée"));
        // Réinitialiser ends the run at once.
        QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        QVERIFY(m_form->ready());
    }
};

QTEST_MAIN(TestHandedAddresses)
#include "tst_handedaddresses.moc"
