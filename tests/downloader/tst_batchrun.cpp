#include "elidinglist.h"
#include "entrynaming.h"
#include "form1.h"
#include "httpserver.h"
#include "interruptedrunrecord.h"
#include "programdirectory.h"
#include "reportlist.h"
#include "runreport.h"
#include "shellopen.h"
#include "terminationsignals.h"
#include "testfiles.h"
#include "widgetdriver.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <atomic>
#include <chrono>
#include <csignal>
#include <httplib.h>
#include <mutex>
#include <thread>

using namespace quorrin;
using namespace quorrin::downloader;
using quorrin::test::paste;
using quorrin::test::rows;

class TestBatchRun : public QObject {
    Q_OBJECT

    std::atomic<int> m_requests{0};
    std::mutex m_pathsMutex;
    QStringList m_paths; // the path of each request for /files/
    std::atomic<bool> m_slowStarted{false};
    std::atomic<bool> m_slowAbandoned{false}; // the client went before the end of /slow/
    std::mutex m_rangesMutex;
    QStringList m_ranges; // the Range header of each request for /resumable/
    std::unique_ptr<test::HttpServer> m_server;
    std::unique_ptr<QTemporaryDir> m_programDir;
    std::unique_ptr<Form1> m_form;

    template <typename T> T *control(const char *name) const
    {
        return m_form->findChild<T *>(QLatin1String(name));
    }
    ReportList *report() const { return control<ReportList>("listErr"); }
    // What row `row` of the report carries in `role`.
    QVariant reportData(int row, int role) const
    {
        return report()->model()->index(row, 0).data(role);
    }
    QString tip(int row) const { return reportData(row, Qt::ToolTipRole).toString(); }
    int failedEntries() const
    {
        return static_cast<const RunReport *>(report()->model())->failedEntries();
    }
    // A window that keeps its downloads under the scratch program directory and starts nothing.
    std::unique_ptr<Form1> makeForm() const
    {
        Form1::Services services;
        services.programDirectory = m_programDir->path();
        services.updaterShipped = false;
        return std::make_unique<Form1>(std::move(services));
    }
    QString dl(const QString &name = {}) const { return m_programDir->path() + "/DL/" + name; }

    void queue(const QStringList &paths)
    {
        for (const QString &path : paths)
            paste(control<QLineEdit>("txtPage"), m_server->url(path));
    }
    // Clicks the download button and waits for the run to end.
    void runQueue()
    {
        QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_form->ready(), 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<test::HttpServer>([this](httplib::Server &server) {
            server.Get(R"(/files/(.+))",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           ++m_requests;
                           {
                               const std::lock_guard lock(m_pathsMutex);
                               m_paths << QString::fromStdString(request.path);
                           }
                           response.set_content("data of " + request.matches[1].str(),
                                                "application/octet-stream");
                       });
            server.Get("/missing", [this](const httplib::Request &, httplib::Response &response) {
                ++m_requests;
                response.status = 404;
            });
            // Like /slow/, with an ETag and ranges: /resumable/<kibibytes>. Byte i is 'a' + i % 26.
            server.Get(R"(/resumable/(\d+))", [this](const httplib::Request &request,
                                                     httplib::Response &response) {
                ++m_requests;
                {
                    const std::lock_guard lock(m_rangesMutex);
                    m_ranges << QString::fromStdString(request.get_header_value("Range"));
                }
                response.set_header("ETag", "\"r1\"");
                const size_t size = std::stoul(request.matches[1].str()) * 1024;
                response.set_content_provider(
                    size, "application/octet-stream",
                    [this](size_t offset, size_t length, httplib::DataSink &sink) {
                        m_slowStarted = true;
                        std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        std::string chunk(std::min<size_t>(length, 1024), ' ');
                        for (size_t i = 0; i < chunk.size(); ++i)
                            chunk[i] = char('a' + (offset + i) % 26);
                        return sink.write(chunk.data(), chunk.size());
                    });
            });
            // Sends a kibibyte every 20 ms: /slow/<kibibytes>.
            server.Get(R"(/slow/(\d+))",
                       [this](const httplib::Request &request, httplib::Response &response) {
                           ++m_requests;
                           const size_t size = std::stoul(request.matches[1].str()) * 1024;
                           response.set_content_provider(
                               size, "application/octet-stream",
                               [this](size_t, size_t, httplib::DataSink &sink) {
                                   m_slowStarted = true;
                                   std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                   const std::string chunk(1024, 'x');
                                   if (sink.write(chunk.data(), chunk.size()))
                                       return true;
                                   m_slowAbandoned = true;
                                   return false;
                               });
                       });
        });
    }

    void init()
    {
        m_programDir = std::make_unique<QTemporaryDir>();
        m_form = makeForm();
        m_requests = 0;
        m_slowStarted = false;
        m_slowAbandoned = false;
        m_ranges.clear();
        m_paths.clear();
    }

    void cleanup()
    {
        m_form.reset();
        m_programDir.reset();
    }

    void emptyQueueDoesNothing()
    {
        runQueue();
        QVERIFY(!report()->isVisibleTo(m_form.get()));
        QCOMPARE(report()->model()->rowCount(), 0);
        QCOMPARE(control<QLabel>("labMess")->text(), QStringLiteral("Fichiers à télécharger :"));
        QVERIFY(m_form->ready());
    }

    void twoEntries()
    {
        queue({"/files/a.zip", "/files/b.zip"});
        runQueue();
        QCOMPARE(test::contentOf(dl("a.zip")), QByteArray("data of a.zip"));
        QCOMPARE(test::contentOf(dl("b.zip")), QByteArray("data of b.zip"));
        QCOMPARE(rows(report()),
                 (QStringList{"Téléchargement de a.zip", "Téléchargement terminé",
                              "Téléchargement de b.zip", "Téléchargement terminé"}));
        QCOMPARE(report()->currentIndex().row(), 3);
        QVERIFY(report()->isVisibleTo(m_form.get()));
        QCOMPARE(control<QListWidget>("ListDl")->currentRow(), 1);
        QCOMPARE(control<QLabel>("labMess")->text(),
                 QStringLiteral("Tous les téléchargements sont terminés"));
        QCOMPARE(control<QLineEdit>("txtPage")->text(), m_server->url("/files/b.zip"));
        QCOMPARE(control<QLineEdit>("txtPath")->text(), dl("b.zip"));
        // Selected: the next paste replaces the address instead of being appended to it.
        QCOMPARE(control<QLineEdit>("txtPage")->selectedText(), m_server->url("/files/b.zip"));
        QVERIFY(!control<QProgressBar>("barDownload")->isVisibleTo(m_form.get()));
        QVERIFY(m_form->ready());
        QCOMPARE(m_form->editedEntry(), 1);
    }

    // After a run the boxes show the last entry, and an edit goes to that entry.
    void editAfterRunGoesToEntryShown()
    {
        queue({"/files/a.zip", "/files/b.zip"});
        control<QListWidget>("ListDl")->setCurrentRow(0);
        runQueue();
        paste(control<QLineEdit>("txtPath"), dl("renamed.zip"));
        QCOMPARE(m_form->queuedPaths(), (QStringList{dl("a.zip"), dl("renamed.zip")}));
    }

    // Nothing is replaced: later runs of the same queue store numbered copies.
    void repeatedRunsNumberCopies()
    {
        queue({"/files/a.zip"});
        for (int run = 0; run < 3; ++run)
            runQueue();
        QCOMPARE(test::contentOf(dl("a.zip")), QByteArray("data of a.zip"));
        QCOMPARE(test::contentOf(dl("a_1.zip")), QByteArray("data of a.zip"));
        QCOMPARE(test::contentOf(dl("a_2.zip")), QByteArray("data of a.zip"));
        QCOMPARE(control<QLineEdit>("txtPath")->text(), dl("a_2.zip"));
        QCOMPARE(m_form->queuedPaths(), QStringList{dl("a.zip")});
        QCOMPARE(rows(report()),
                 (QStringList{"Téléchargement de a.zip", "Téléchargement terminé"}));
    }

    // A failed entry says so, with its cause, and the run goes on.
    void failedEntryReportsAndGoesOn()
    {
        queue({"/missing", "/files/b.zip"});
        runQueue();
        QCOMPARE(rows(report()), (QStringList{"Téléchargement de missing", "Erreur pour missing",
                                              "Téléchargement terminé", "Téléchargement de b.zip",
                                              "Téléchargement terminé"}));
        QVERIFY(tip(1).contains(QLatin1String("404")));
        QVERIFY(tip(0).isEmpty());
        // The error row stands out; the others carry no icon.
        QVERIFY(!qvariant_cast<QIcon>(reportData(1, Qt::DecorationRole)).isNull());
        for (int row : {0, 2, 3, 4})
            QVERIFY(qvariant_cast<QIcon>(reportData(row, Qt::DecorationRole)).isNull());
        QCOMPARE(failedEntries(), 1);
        QVERIFY(!QFileInfo::exists(dl("missing")));
        QCOMPARE(test::contentOf(dl("b.zip")), QByteArray("data of b.zip"));
    }

    // A name longer than the file system allows is refused before anything is sent.
    void impossibleNameRefusedBeforeTransfer()
    {
        const QString longName = QString(300, 'n') + ".zip";
        queue({"/files/" + longName, "/files/b.zip"});
        runQueue();
        QCOMPARE(rows(report()).mid(0, 3),
                 (QStringList{"Téléchargement de " + longName, "Erreur pour " + longName,
                              "Téléchargement terminé"}));
        // A screen reader reads the cause, not only a pointer's tooltip.
        QAccessibleInterface *row = QAccessible::queryAccessibleInterface(report())->child(1);
        QVERIFY(row);
        QCOMPARE(row->text(QAccessible::Description), tip(1));
        QVERIFY(!row->text(QAccessible::Description).isEmpty());
        QCOMPARE(m_requests.load(), 1); // b.zip's only
        QCOMPARE(test::contentOf(dl("b.zip")), QByteArray("data of b.zip"));
        // The long row is elided within the report's width; its tooltip tells it whole, and
        // why it failed.
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        ReportList *list = report();
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
        QVERIFY(list->isElided(1));
        const QPoint at = list->visualRect(list->model()->index(1, 0)).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        QCOMPARE(QToolTip::text(), "Erreur pour " + longName + "\n" + tip(1));
    }

    void directoriesMadeOrReported()
    {
        queue({"/files/deep.bin", "/files/blocked.bin"});
        auto *list = control<QListWidget>("ListDl");
        auto *path = control<QLineEdit>("txtPath");
        list->setCurrentRow(0);
        paste(path, dl("new/sub/deep.bin"));
        QVERIFY(QFile(m_programDir->filePath("file")).open(QIODevice::WriteOnly));
        list->setCurrentRow(1);
        paste(path, m_programDir->filePath("file/sub/blocked.bin"));
        runQueue();
        QCOMPARE(test::contentOf(dl("new/sub/deep.bin")), QByteArray("data of deep.bin"));
        // One row for the directory that cannot be made, one for the transfer that cannot land.
        QCOMPARE(rows(report()).mid(2),
                 (QStringList{"Téléchargement de blocked.bin", "Erreur pour blocked.bin",
                              "Erreur pour blocked.bin", "Téléchargement terminé"}));
        QVERIFY(tip(3).contains(m_programDir->filePath("file/sub")));
        QCOMPARE(failedEntries(), 1); // one entry, two error rows
    }

    // A paste or a drop during a run changes nothing: the address box keeps the entry under
    // way, whether the text holds one line or several, and nothing is queued.
    void pasteDuringRunChangesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::newRow("one line") << "keyboard"
                                  << "http://h/x/c.zip";
        QTest::newRow("several lines") << "keyboard"
                                       << "http://h/x/c.zip\nhttp://h/x/d.zip";
        QTest::newRow("context menu") << "menu"
                                      << "http://h/x/c.zip";
        QTest::newRow("drop") << "drop"
                              << "http://h/x/c.zip";
    }
    void pasteDuringRunChangesNothing()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        queue({"/slow/500"});
        auto *page = control<QLineEdit>("txtPage");
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_slowStarted, 10000);
        QGuiApplication::clipboard()->setText(text);
        page->setFocus();
        page->setCursorPosition(10); // inside the address under way
        if (how == "keyboard") {
            QTest::keySequence(page, QKeySequence::Paste);
        } else if (how == "menu") {
            bool pasted = false;
            QTimer menu;
            connect(&menu, &QTimer::timeout, [&] {
                // The menu's Paste, by its mnemonic.
                if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    QTest::keyClick(popup, Qt::Key_P);
                    popup->close();
                    pasted = true;
                }
            });
            menu.start(20);
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                    page->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(page, &event);
            QTRY_VERIFY(pasted);
        } else {
            QMimeData data;
            data.setText(text);
            const QPoint at = page->geometry().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &enter);
            QVERIFY(!enter.isAccepted());
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &drop);
        }
        QVERIFY(!m_form->ready()); // still under way
        QCOMPARE(page->text(), m_server->url("/slow/500"));
        QCOMPARE(m_form->queuedPages(), QStringList{m_server->url("/slow/500")});
        QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        QVERIFY(m_form->ready());
    }

    // A reset during a transfer stops it at once: the server sees the connection go, no entry
    // lands, nothing is left, and the caption is the queue's again.
    void resetDuringTransfer()
    {
        queue({"/slow/500", "/files/b.zip"});
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!m_slowStarted)
                return;
            poll.stop();
            QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        });
        poll.start(20);
        runQueue();
        QTRY_VERIFY_WITH_TIMEOUT(m_slowAbandoned, 2000);
        QTRY_COMPARE(QDir(dl()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
        QCOMPARE(rows(control<QListWidget>("ListDl")), QStringList{QueuePlaceholder});
        QCOMPARE(control<QLabel>("labMess")->text(), QStringLiteral("Fichiers à télécharger :"));
        QVERIFY(!report()->isVisibleTo(m_form.get()));
        queue({"/files/c.zip"});
        runQueue();
        QCOMPARE(test::contentOf(dl("c.zip")), QByteArray("data of c.zip"));
    }

    // A download stopped by a close, or by SIGTERM, keeps what has arrived; the next run asks
    // only for the rest and ends with the whole file, byte for byte.
    void stoppedDownloadResumesInNextRun_data()
    {
        QTest::addColumn<bool>("signal");
        QTest::newRow("window closed") << false;
        QTest::newRow("SIGTERM") << true;
    }

    void stoppedDownloadResumesInNextRun()
    {
        QFETCH(bool, signal);
        static bool handlerInstalled = false;
        if (!std::exchange(handlerInstalled, true))
            onTerminationSignal([this] { m_form->close(); });
        queue({"/resumable/100"});
        m_form->show();
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QFileInfo(dl("100.part")).size() < 10 * 1024)
                return;
            poll.stop();
            if (signal)
                ::raise(SIGTERM);
            else
                m_form->close();
        });
        poll.start(20);
        runQueue();
        QTRY_VERIFY(!m_form->isVisible());
        const qint64 kept = QFileInfo(dl("100.part")).size();
        QVERIFY(kept >= 10 * 1024);
        QVERIFY(!QFileInfo::exists(dl("100")));

        // The next start of the program, with the same queue.
        m_form = makeForm();
        queue({"/resumable/100"});
        runQueue();
        QByteArray expected(100 * 1024, ' ');
        for (int i = 0; i < expected.size(); ++i)
            expected[i] = char('a' + i % 26);
        QCOMPARE(test::contentOf(dl("100")), expected);
        QVERIFY(!QFileInfo::exists(dl("100.part")));
        const std::lock_guard lock(m_rangesMutex);
        QCOMPARE(m_ranges.size(), 2);
        QVERIFY2(m_ranges.at(1).startsWith("bytes="), qPrintable(m_ranges.at(1)));
        QVERIFY(m_ranges.at(1).mid(6).section('-', 0, 0).toLongLong() >= 10 * 1024);
    }

    // A file saved at the target during the transfer stays; the download takes the next name.
    void nameTakenDuringTransfer()
    {
        queue({"/slow/20"});
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!m_slowStarted)
                return;
            poll.stop();
            test::writeFile(dl("20"), "the user's own");
        });
        poll.start(10);
        runQueue();
        QCOMPARE(test::contentOf(dl("20")), QByteArray("the user's own"));
        QCOMPARE(QFileInfo(dl("20_1")).size(), 20 * 1024);
        QCOMPARE(control<QLineEdit>("txtPath")->text(), dl("20_1"));
        QCOMPARE(rows(report()), (QStringList{"Téléchargement de 20", "Téléchargement terminé"}));
    }

    // The window takes the user's clicks while a file arrives.
    void checkBoxActsDuringTransfer()
    {
        queue({"/slow/50"});
        m_form->show();
        bool topmostDuringTransfer = true;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!m_slowStarted)
                return;
            poll.stop();
            QTest::mouseClick(control<QWidget>("ChkAlwaysOnTop"), Qt::LeftButton);
            QVERIFY(!m_form->ready());
            topmostDuringTransfer = m_form->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        });
        poll.start(20);
        runQueue();
        QVERIFY(!topmostDuringTransfer);
        QCOMPARE(QFileInfo(dl("50")).size(), 50 * 1024);
    }

    // Closing the window abandons the transfers under way and ends the run; no entry lands,
    // and a part file that cannot be continued (no version named) does not stay.
    void closeDuringTransfer()
    {
        queue({"/slow/500", "/files/b.zip"});
        m_form->show();
        bool barShown = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (!m_slowStarted)
                return;
            barShown = control<QProgressBar>("barDownload")->isVisible();
            // A click on the download button during a run starts nothing.
            QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
            m_form->close();
            poll.stop();
        });
        poll.start(50);
        runQueue();
        QVERIFY(barShown);
        QTRY_COMPARE(QDir(dl()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                     QStringList());
    }
    QString record() const { return m_programDir->filePath(InterruptedRunFileName); }

    // Closes the window while the second of four entries arrives, or destroys it without a
    // close, as the end of a program may.
    void closeDuringSecondEntry(bool destroy = false)
    {
        // Three seconds of data: the part file gets its name after a bit more than one, and the
        // close comes well before the end even on a loaded machine.
        queue({"/files/a.zip", "/resumable/160", "/files/c.zip", "/files/d.zip"});
        m_form->show();
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QFileInfo(dl("160.part")).size() >= 10 * 1024) {
                poll.stop();
                destroy ? m_form.reset() : static_cast<void>(m_form->close());
            }
        });
        poll.start(20);
        QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form || m_form->ready(), 20000);
        QTRY_VERIFY(QFileInfo::exists(record()));
        m_form.reset();
        // The run's last words reach the record on a disk thread; the next window owns the
        // record once they have.
        QTRY_VERIFY(InterruptedRunRecord(m_programDir->path()).owned());
    }

    // The next start shows the entries that had not finished and one click completes them:
    // the interrupted one goes on where it stopped, the finished one is not fetched again.
    void interruptedRunComesBack_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("window closed") << false;
        QTest::newRow("window destroyed without a close") << true;
    }
    void interruptedRunComesBack()
    {
        QFETCH(bool, destroy);
        closeDuringSecondEntry(destroy);
        m_form = makeForm();
        QCOMPARE(rows(control<QListWidget>("ListDl")), (QStringList{"160", "c.zip", "d.zip"}));
        QCOMPARE(control<QLineEdit>("txtPage")->text(), m_server->url("/files/d.zip"));
        QCOMPARE(control<QLineEdit>("txtPath")->text(), dl("d.zip"));
        QCOMPARE(control<QLabel>("labMess")->text(),
                 QStringLiteral("À reprendre : cliquez sur Télécharger"));
        {
            const std::lock_guard lock(m_pathsMutex);
            m_paths.clear();
        }
        m_ranges.clear();
        runQueue();
        QCOMPARE(QFileInfo(dl("160")).size(), 160 * 1024);
        QCOMPARE(test::contentOf(dl("c.zip")), QByteArray("data of c.zip"));
        QCOMPARE(test::contentOf(dl("d.zip")), QByteArray("data of d.zip"));
        QVERIFY(!QFileInfo::exists(dl("a_1.zip")));
        {
            const std::lock_guard lock(m_pathsMutex);
            QVERIFY(!m_paths.contains("/files/a.zip"));
        }
        const std::lock_guard lock(m_rangesMutex);
        QCOMPARE(m_ranges.size(), 1);
        QVERIFY2(m_ranges.at(0).startsWith("bytes="), qPrintable(m_ranges.at(0)));
        QTRY_VERIFY(!QFileInfo::exists(record())); // the run reached its end
    }

    // Réinitialiser gives up the interrupted run for good, as does a run that ends.
    void resetForgetsTheInterruptedRun_data()
    {
        QTest::addColumn<bool>("runFirst");
        QTest::newRow("reset at start") << false;
        QTest::newRow("reset during the resumed run") << true;
    }
    void resetForgetsTheInterruptedRun()
    {
        QFETCH(bool, runFirst);
        closeDuringSecondEntry();
        m_form = makeForm();
        if (runFirst)
            QTest::mouseClick(control<QWidget>("cmdDownLoad"), Qt::LeftButton);
        QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        QTRY_VERIFY(!QFileInfo::exists(record()));
        m_form = makeForm();
        QCOMPARE(rows(control<QListWidget>("ListDl")), QStringList{QueuePlaceholder});
    }

    // A record that is not one Quorrin can read is set aside, never deleted, and the queue
    // starts empty.
    void unreadableRecordSetAside()
    {
        m_form.reset();
        test::writeFile(record(), "{\"format\": \"quorrin-interrupted-downloads\", \"vers");
        m_form = makeForm();
        QCOMPARE(rows(control<QListWidget>("ListDl")), QStringList{QueuePlaceholder});
        QCOMPARE(control<QLabel>("labMess")->text(), QStringLiteral("Fichiers à télécharger :"));
        QCOMPARE(test::contentOf(record() + ".bad-1"),
                 QByteArray("{\"format\": \"quorrin-interrupted-downloads\", \"vers"));
        QVERIFY(!QFileInfo::exists(record()));
    }

    // A second window, while the first one lives, neither shows the first one's record nor
    // replaces it with its own run's.
    void secondWindowLeavesTheRecord()
    {
        closeDuringSecondEntry();
        m_form = makeForm();
        const QByteArray kept = test::contentOf(record());
        QVERIFY(!kept.isEmpty());
        std::unique_ptr<Form1> first = std::move(m_form);
        m_form = makeForm();
        QCOMPARE(rows(control<QListWidget>("ListDl")), QStringList{QueuePlaceholder});
        queue({"/files/e.zip"});
        runQueue();
        QCOMPARE(test::contentOf(dl("e.zip")), QByteArray("data of e.zip"));
        QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        QTest::qWait(100); // a write or a removal would be under way by now
        QCOMPARE(test::contentOf(record()), kept);
    }
};

QTEST_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
