#include "elidinglabel.h"
#include "elidinglist.h"
#include "entrynaming.h"
#include "form1.h"
#include "messagebox.h"
#include "programdirectory.h"
#include "shellopen.h"
#include "testfiles.h"
#include "updatecheck.h"
#include "widgetdriver.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace quorrin;
using namespace quorrin::downloader;
using quorrin::test::paste;
using quorrin::test::rows;

// Answers the Save As dialog from a script: a name confirms it, an empty string cancels,
// a text starting with "!" makes the dialog fail with the rest as the description.
class ScriptedSaveAs : public SaveAsDialog {
public:
    QStringList answers;
    QStringList openedAt; // the path each showing started from

    Result<QString> showSave(QWidget *, const QString &path) override
    {
        openedAt << path;
        const QString answer = answers.takeFirst();
        if (answer.startsWith(QLatin1Char('!')))
            return Failure{answer.mid(1)};
        return answer;
    }
};

class TestForm1 : public QObject {
    Q_OBJECT

    QTemporaryDir m_programDir;
    std::unique_ptr<Form1> m_form;
    ScriptedSaveAs *m_dialog = nullptr;
    QList<Message> m_messages;
    QList<QStringList> m_launched;
    QDate m_today{2026, 12, 7};

    template <typename T> T *control(const char *name) const
    {
        T *found = m_form->findChild<T *>(QLatin1String(name));
        Q_ASSERT(found);
        return found;
    }
    QLineEdit *txtPage() const { return control<QLineEdit>("txtPage"); }
    QLineEdit *txtPath() const { return control<QLineEdit>("txtPath"); }
    QListWidget *listDl() const { return control<QListWidget>("ListDl"); }
    QString dl() const { return m_programDir.path() + QStringLiteral("/DL/"); }

    void pressDelete() { QTest::keyClick(listDl(), Qt::Key_Delete); }
    // The window's services as in a maker's release build, with what it shows and starts
    // recorded here.
    Form1::Services services()
    {
        Form1::Services services;
        services.today = [this] { return m_today; };
        services.showMessage = [this](QWidget *, const Message &message) {
            m_messages << message;
            return QMessageBox::Ok;
        };
        services.shellOpen = [this](const QString &file, const QString &parameters) {
            m_launched.append({file, parameters});
        };
        services.programDirectory = m_programDir.path();
        services.updaterShipped = true;
        return services;
    }
    void showActive()
    {
        m_form->show();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    }
    void queue(const QStringList &names)
    {
        for (const QString &name : names)
            paste(txtPage(), QStringLiteral("http://host/files/") + name);
    }
    // The text of the tooltip that a pointer resting at `at` over `widget` shows; empty
    // when the widget and its parents show none.
    static QString toolTipAt(QWidget *widget, const QPoint &at)
    {
        QHelpEvent help(QEvent::ToolTip, at, widget->mapToGlobal(at));
        QApplication::sendEvent(widget, &help);
        return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_programDir.isValid()); }

    void init()
    {
        QFile::remove(m_programDir.filePath("LastDateCheckUpdate.txt"));
        m_messages.clear();
        m_launched.clear();
        auto dialog = std::make_unique<ScriptedSaveAs>();
        m_dialog = dialog.get();
        Form1::Services withDialog = services();
        withDialog.saveAs = std::move(dialog);
        m_form = std::make_unique<Form1>(std::move(withDialog));
    }

    void cleanup() { m_form.reset(); }

    void startState()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QCOMPARE(m_form->windowTitle(), QStringLiteral("Quorrin"));
        QCOMPARE(txtPage()->text(), QStringLiteral("http://"));
        QCOMPARE(txtPath()->text(), dl());
        QCOMPARE(rows(listDl()), QStringList{QueuePlaceholder});
        QVERIFY(!control<QWidget>("listErr")->isVisible());
        QCOMPARE(control<QLabel>("labMess")->text(), QStringLiteral("Fichiers à télécharger :"));
        QVERIFY(control<QCheckBox>("ChkAlwaysOnTop")->isChecked());
        QVERIFY(m_form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!m_form->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!m_form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        QCOMPARE(m_form->minimumSize(), QSize(379, 263));
        QCOMPARE(m_form->maximumSize(), QSize(379, 263));
        QCOMPARE(m_form->focusWidget(), txtPage());
        QVERIFY(m_form->ready());
    }

    // The first start of a day starts the updater, with this program's four fields.
    void updaterOncePerDay()
    {
        const QString updater = m_programDir.path() + "/updater";
        const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        QCOMPARE(m_launched,
                 (QList<QStringList>{{updater, "setup_quorrin\t3\tQuorrin\t" + executable}}));
        m_launched.clear();
        Form1 secondStart(services());
        QVERIFY(m_launched.isEmpty());
        m_today = m_today.addDays(1);
        Form1 thirdStart(services());
        QCOMPARE(m_launched.size(), 1);
    }

    // A build that names no update site, such as this one when configured by default: the
    // start of a day starts nothing and writes no check file.
    void buildWithoutSiteStartsNothing()
    {
        m_form.reset();
        m_launched.clear();
        QFile::remove(m_programDir.filePath("LastDateCheckUpdate.txt"));
        const bool builtWithSite = !QStringLiteral(QUORRIN_UPDATE_BASE_URL).isEmpty();
        Form1::Services buildsOwn = services();
        buildsOwn.updaterShipped.reset();
        {
            Form1 start(std::move(buildsOwn));
        }
        QCOMPARE(m_launched.isEmpty(), !builtWithSite);
        QCOMPARE(QFileInfo::exists(m_programDir.filePath("LastDateCheckUpdate.txt")),
                 builtWithSite);
    }

    void pasteQueuesEntry()
    {
        paste(txtPage(), QStringLiteral("http://host/dir/file.zip"));
        QCOMPARE(txtPath()->text(), dl() + QStringLiteral("file.zip"));
        QCOMPARE(rows(listDl()), QStringList{QStringLiteral("file.zip")});
        QCOMPARE(m_form->queuedPages(), QStringList{QStringLiteral("http://host/dir/file.zip")});
        QCOMPARE(m_form->queuedPaths(), QStringList{dl() + QStringLiteral("file.zip")});
        QCOMPARE(m_form->editedEntry(), 0);
    }

    void pasteAddsNothing_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("address");
        QTest::newRow("address without slash") << QString() << "file.zip";
        QTest::newRow("path without separator") << "nowhere"
                                                << "http://host/file.zip";
    }
    void pasteAddsNothing()
    {
        QFETCH(QString, path);
        QFETCH(QString, address);
        if (!path.isEmpty())
            paste(txtPath(), path);
        const QString pathBefore = txtPath()->text();
        paste(txtPage(), address);
        QCOMPARE(rows(listDl()), QStringList{QueuePlaceholder});
        QCOMPARE(txtPath()->text(), pathBefore);
        QVERIFY(m_form->queuedPages().isEmpty());
    }

    void addressEndingInSlash()
    {
        paste(txtPage(), QStringLiteral("http://host/dir/"));
        QCOMPARE(rows(listDl()), QStringList{QString()});
        QCOMPARE(m_form->queuedPaths(), QStringList{dl()});
    }

    // Typing adds one entry per keystroke once the address holds a "/".
    void typingAddsEntryPerKeystroke()
    {
        txtPage()->setCursorPosition(txtPage()->text().size());
        QTest::keyClicks(txtPage(), QStringLiteral("ab"));
        QCOMPARE(rows(listDl()), (QStringList{QStringLiteral("a"), QStringLiteral("ab")}));
    }

    void entriesKeepTheirOwnPaths()
    {
        queue({QStringLiteral("file.zip"), QStringLiteral("second.iso")});
        QCOMPARE(txtPath()->text(), dl() + QStringLiteral("second.iso"));
        paste(txtPath(), QStringLiteral("/elsewhere/renamed.iso"));
        QCOMPARE(m_form->queuedPaths(), (QStringList{dl() + QStringLiteral("file.zip"),
                                                     QStringLiteral("/elsewhere/renamed.iso")}));
        QCOMPARE(m_form->editedEntry(), 1);
    }

    // A selected entry is the one that the path box edits.
    void selectionShowsAndEditsEntry()
    {
        queue({QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("c.zip")});
        QTest::mouseClick(listDl()->viewport(), Qt::LeftButton, {},
                          listDl()->visualItemRect(listDl()->item(0)).center());
        QCOMPARE(listDl()->currentRow(), 0);
        QCOMPARE(txtPage()->text(), QStringLiteral("http://host/files/a.zip"));
        QCOMPARE(txtPath()->text(), dl() + QStringLiteral("a.zip"));
        QCOMPARE(rows(listDl()).size(), 3); // showing an entry queues nothing
        paste(txtPath(), QStringLiteral("/tmp/first.zip"));
        QCOMPARE(m_form->queuedPaths(),
                 (QStringList{QStringLiteral("/tmp/first.zip"), dl() + QStringLiteral("b.zip"),
                              dl() + QStringLiteral("c.zip")}));
    }

    void deleteRow_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("remaining");
        QTest::addColumn<int>("selected");
        QTest::newRow("first of three") << 3 << 0 << QStringList{"1", "2"} << 0;
        QTest::newRow("middle of three") << 3 << 1 << QStringList{"0", "2"} << 1;
        QTest::newRow("last of three") << 3 << 2 << QStringList{"0", "1"} << 1;
        QTest::newRow("only row") << 1 << 0 << QStringList{QueuePlaceholder} << 0;
    }
    void deleteRow()
    {
        QFETCH(int, count);
        QFETCH(int, row);
        QFETCH(QStringList, remaining);
        QFETCH(int, selected);
        for (int i = 0; i < count; ++i)
            queue({QString::number(i)});
        listDl()->setCurrentRow(row);
        pressDelete();

        QCOMPARE(rows(listDl()), remaining);
        QCOMPARE(listDl()->currentRow(), selected);
        if (remaining.first() == QueuePlaceholder)
            return;
        QCOMPARE(m_form->queuedPages().size(), remaining.size());
        for (int i = 0; i < remaining.size(); ++i)
            QCOMPARE(m_form->queuedPaths().at(i), dl() + remaining.at(i));
        // The entry that moved into the selection is shown and edited.
        QCOMPARE(txtPath()->text(), dl() + remaining.at(selected));
        paste(txtPath(), QStringLiteral("/x"));
        QCOMPARE(m_form->queuedPaths().at(selected), QStringLiteral("/x"));
    }

    // The focus alone selects nothing: the boxes, the entry edited and the queue stay.
    void deleteNeedsVisibleSelection_data()
    {
        QTest::addColumn<bool>("byTab");
        QTest::newRow("list reached with Tab") << true;
        QTest::newRow("current row not selected") << false;
    }
    void deleteNeedsVisibleSelection()
    {
        QFETCH(bool, byTab);
        queue({QStringLiteral("a"), QStringLiteral("b")});
        showActive();
        if (byTab) {
            control<QWidget>("cmdOpen")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), listDl());
        } else {
            listDl()->setCurrentRow(0);
            listDl()->selectionModel()->clearSelection();
        }
        if (byTab) {
            QCOMPARE(listDl()->currentRow(), -1);
            QCOMPARE(txtPath()->text(), dl() + QStringLiteral("b"));
            QCOMPARE(m_form->editedEntry(), 1);
        }
        pressDelete();
        QCOMPARE(rows(listDl()), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
        // The arrow keys still reach the first row and show it.
        if (byTab) {
            QTest::keyClick(listDl(), Qt::Key_Down);
            QCOMPARE(listDl()->selectedItems().value(0), listDl()->item(0));
            QCOMPARE(txtPath()->text(), dl() + QStringLiteral("a"));
        }
    }

    void deleteNeedsSelectionAndEntries()
    {
        pressDelete(); // the placeholder alone
        QCOMPARE(rows(listDl()), QStringList{QueuePlaceholder});
        queue({QStringLiteral("a"), QStringLiteral("b")});
        listDl()->setCurrentRow(-1);
        pressDelete();
        QCOMPARE(rows(listDl()).size(), 2);
    }

    // The program's own "http://" is selected in the focused box: a first paste replaces it.
    void firstPasteReplacesScheme_data()
    {
        QTest::addColumn<bool>("afterReset");
        QTest::newRow("at start") << false;
        QTest::newRow("after reset") << true;
    }
    void firstPasteReplacesScheme()
    {
        QFETCH(bool, afterReset);
        showActive();
        if (afterReset) {
            queue({QStringLiteral("a.zip")});
            QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        }
        QGuiApplication::clipboard()->setText(QStringLiteral("http://host/file.zip"));
        QTest::keySequence(QApplication::focusWidget(), QKeySequence::Paste);
        QCOMPARE(m_form->queuedPages(), QStringList{QStringLiteral("http://host/file.zip")});
        QCOMPARE(rows(listDl()), QStringList{QStringLiteral("file.zip")});
    }

    // Once a paste or a drop has queued an address, the address is selected: the next paste
    // replaces it instead of being appended to it.
    void nextPasteReplacesAddress_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("keyboard") << "keyboard";
        QTest::newRow("context menu") << "menu";
        QTest::newRow("drop") << "drop";
        QTest::newRow("several lines") << "lines";
    }
    void nextPasteReplacesAddress()
    {
        QFETCH(QString, how);
        showActive();
        const QString first = QStringLiteral("http://h/x/a.zip");
        QGuiApplication::clipboard()->setText(first);
        if (how == QLatin1String("keyboard")) {
            QTest::keySequence(txtPage(), QKeySequence::Paste);
        } else if (how == QLatin1String("menu")) {
            QTimer menu;
            connect(&menu, &QTimer::timeout, [&] {
                // The menu's Paste, by its mnemonic.
                if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
                    QTest::keyClick(popup, Qt::Key_P);
                    popup->close();
                }
            });
            menu.start(20);
            QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                    txtPage()->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(txtPage(), &event);
        } else if (how == QLatin1String("drop")) {
            QMimeData data;
            data.setText(first);
            const QPoint at = txtPage()->geometry().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &enter);
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &drop);
        } else {
            QGuiApplication::clipboard()->setText(first + "\nhttp://h/x/b.zip");
            QTest::keySequence(txtPage(), QKeySequence::Paste);
        }
        QCOMPARE(txtPage()->selectedText(), m_form->queuedPages().last());
        QGuiApplication::clipboard()->setText(QStringLiteral("http://h/y/c.zip"));
        QTest::keySequence(txtPage(), QKeySequence::Paste);
        QCOMPARE(m_form->queuedPages().last(), QStringLiteral("http://h/y/c.zip"));
        QCOMPARE(rows(listDl()).last(), QStringLiteral("c.zip"));
        QCOMPARE(m_form->queuedPages().first(), first);
    }

    // A click that brings the focus into the address box selects the whole address, as a
    // browser's address bar does, and so does the first click after the window selected the
    // address itself, the focus already there (Réinitialiser); a second click places the
    // cursor.
    void clickIntoAddressSelectsIt_data()
    {
        QTest::addColumn<bool>("afterReset");
        QTest::newRow("focus brought by the click") << false;
        QTest::newRow("after reset, focus already there") << true;
    }
    void clickIntoAddressSelectsIt()
    {
        QFETCH(bool, afterReset);
        showActive();
        paste(txtPage(), QStringLiteral("http://h/x/a.zip"));
        if (afterReset) {
            QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        } else {
            QTest::mouseClick(txtPath(), Qt::LeftButton);
            QCOMPARE(QApplication::focusWidget(), txtPath());
        }
        const QString address = txtPage()->text();
        const QPoint middle = txtPage()->rect().center();
        QTest::mouseClick(txtPage(), Qt::LeftButton, {}, middle);
        QCOMPARE(QApplication::focusWidget(), txtPage());
        QCOMPARE(txtPage()->selectedText(), address);
        QTest::mouseClick(txtPage(), Qt::LeftButton, {}, middle + QPoint(0, 1));
        QVERIFY(!txtPage()->hasSelectedText());
    }

    // Several lines queue one entry each, in order, as if each had been pasted alone.
    void severalAddresses_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("text");
        QTest::newRow("paste, LF") << "paste"
                                   << "http://h/x/1.zip\nhttp://h/y/2.iso";
        QTest::newRow("paste, CR LF, blanks")
            << "paste"
            << "\r\n  http://h/x/1.zip \r\n\r\nhttp://h/y/2.iso\r\n";
        // The context menu's paste inserts the text into the box.
        QTest::newRow("inserted") << "insert"
                                  << "http://h/x/1.zip\nhttp://h/y/2.iso";
        QTest::newRow("drop of links") << "uri-list"
                                       << "http://h/x/1.zip\r\nhttp://h/y/2.iso\r\n";
        QTest::newRow("drop of text") << "text"
                                      << "http://h/x/1.zip\nhttp://h/y/2.iso";
    }
    void severalAddresses()
    {
        QFETCH(QString, how);
        QFETCH(QString, text);
        queue({QStringLiteral("first.zip")});
        if (how == QLatin1String("paste")) {
            QGuiApplication::clipboard()->setText(text);
            QTest::keySequence(txtPage(), QKeySequence::Paste);
        } else if (how == QLatin1String("insert")) {
            txtPage()->selectAll();
            txtPage()->insert(text);
        } else {
            QMimeData data;
            if (how == QLatin1String("uri-list"))
                data.setData(QStringLiteral("text/uri-list"), text.toUtf8());
            else
                data.setText(text);
            const QPoint at = control<QWidget>("txtPage")->geometry().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(m_form.get(), &drop);
            QVERIFY(drop.isAccepted());
        }
        QCOMPARE(rows(listDl()), (QStringList{"first.zip", "1.zip", "2.iso"}));
        QCOMPARE(m_form->queuedPages(), (QStringList{"http://host/files/first.zip",
                                                     "http://h/x/1.zip", "http://h/y/2.iso"}));
        QCOMPARE(m_form->queuedPaths(),
                 (QStringList{dl() + "first.zip", dl() + "1.zip", dl() + "2.iso"}));
        QCOMPARE(txtPage()->text(), QStringLiteral("http://h/y/2.iso"));
        QCOMPARE(m_form->editedEntry(), 2);
    }

    // A name too long for its row is elided in the middle, within the list's width: no
    // scrolling sideways; the whole name is the row's accessible name and its tooltip. A
    // row that fits leaves the list's own tooltip.
    void longQueueRowElided()
    {
        const QString name = QString(196, QLatin1Char('n')) + QStringLiteral(".zip");
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        // Enough rows for the vertical scroll bar, which narrows the rows' room.
        queue({name, "b.zip", "c", "d", "e", "f", "g", "h", "i", "j"});
        auto *list = static_cast<ElidingList *>(listDl());
        QTRY_VERIFY(list->verticalScrollBar()->isVisible());
        QCOMPARE(list->visualItemRect(list->item(0)).width(), list->viewport()->width());
        QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
        QVERIFY(list->isElided(0));
        QVERIFY(!list->isElided(1));
        QCOMPARE(toolTipAt(list->viewport(), list->visualItemRect(list->item(0)).center()), name);
        QCOMPARE(toolTipAt(list->viewport(), list->visualItemRect(list->item(1)).center()),
                 list->toolTip());
        QAccessibleInterface *row = QAccessible::queryAccessibleInterface(list)->child(0);
        QVERIFY(row);
        QCOMPARE(row->text(QAccessible::Name), name);
    }

    // The caption, as the run sets it for a long name, keeps its place: elided in the middle,
    // whole in its tooltip and accessible name.
    void longCaptionElided()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        auto *caption = control<ElidingLabel>("labMess");
        const QString text = QStringLiteral("Téléchargement de ") + QString(196, 'n') + ".zip";
        caption->setText(text);
        const QString shown = caption->shownText();
        QVERIFY(caption->fontMetrics().horizontalAdvance(shown) <= caption->width());
        QVERIFY2(shown.startsWith(QStringLiteral("Téléchargement de")), qPrintable(shown));
        QVERIFY(shown.endsWith(QStringLiteral("n.zip")));
        QVERIFY(shown.contains(QChar(0x2026)));
        QCOMPARE(toolTipAt(caption, caption->rect().center()), text);
        QCOMPARE(QAccessible::queryAccessibleInterface(caption)->text(QAccessible::Name), text);
        caption->setText(QStringLiteral("Tous les téléchargements sont terminés"));
        QCOMPARE(caption->shownText(), caption->text());
        QCOMPARE(toolTipAt(caption, caption->rect().center()), QString());
    }

    // The boxes have no length limit: Qt's default would cut a long address.
    void longAddressKeptWhole()
    {
        const QString address = QStringLiteral("http://host/") + QString(100000, QLatin1Char('a'));
        paste(txtPage(), address);
        QCOMPARE(m_form->queuedPages(), QStringList{address});
        QCOMPARE(txtPath()->text().size(), dl().size() + 100000);
    }

    void resetCascade()
    {
        queue({QStringLiteral("a.zip"), QStringLiteral("b.zip"), QStringLiteral("c.zip")});
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        QTest::mouseClick(control<QWidget>("cmdEfface"), Qt::LeftButton);
        QCOMPARE(rows(listDl()), QStringList{QueuePlaceholder});
        QCOMPARE(txtPage()->text(), QStringLiteral("http://"));
        // The address's own change ran first and cut the path back to its directory.
        QCOMPARE(txtPath()->text(), dl());
        QVERIFY(!control<QWidget>("listErr")->isVisible());
        QCOMPARE(m_form->focusWidget(), txtPage());
        queue({QStringLiteral("d.zip")});
        QCOMPARE(rows(listDl()), QStringList{QStringLiteral("d.zip")});
    }

    // The dialog starts from the path shown; a cancel changes nothing, whatever was
    // confirmed before.
    void saveAsDialog()
    {
        queue({QStringLiteral("a.zip"), QStringLiteral("b.zip")});
        QWidget *open = control<QWidget>("cmdOpen");
        m_dialog->answers = {QString(), QStringLiteral("/srv/x.zip"), QString(), QString(),
                             QStringLiteral("!Pas de fenêtre")};

        QTest::mouseClick(open, Qt::LeftButton); // cancelled, nothing confirmed yet
        QCOMPARE(txtPath()->text(), dl() + QStringLiteral("b.zip"));

        QTest::mouseClick(open, Qt::LeftButton); // confirmed
        QCOMPARE(txtPath()->text(), QStringLiteral("/srv/x.zip"));
        QCOMPARE(m_form->queuedPaths().at(1), QStringLiteral("/srv/x.zip"));

        paste(txtPath(), QStringLiteral("/typed"));
        QTest::mouseClick(open, Qt::LeftButton); // cancelled after a confirmed name
        QCOMPARE(txtPath()->text(), QStringLiteral("/typed"));

        listDl()->setCurrentRow(0);
        QTest::mouseClick(open, Qt::LeftButton); // cancelled on another entry
        QCOMPARE(m_form->queuedPaths(),
                 (QStringList{dl() + QStringLiteral("a.zip"), QStringLiteral("/typed")}));
        QCOMPARE(m_dialog->openedAt,
                 (QStringList{dl() + QStringLiteral("b.zip"), dl() + QStringLiteral("b.zip"),
                              QStringLiteral("/typed"), dl() + QStringLiteral("a.zip")}));

        QTest::mouseClick(open, Qt::LeftButton); // the dialog fails
        QCOMPARE(m_dialog->openedAt.size(), 5);
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages[0].text, QStringLiteral("Erreur dans cmpOpen\nPas de fenêtre"));
        QCOMPARE(m_messages[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(m_messages[0].title, QStringLiteral("Quorrin"));
        QCOMPARE(txtPath()->text(), dl() + QStringLiteral("a.zip"));
    }

    // Qt's own dialog opens at the path, in its folder with its name, even where the folder
    // is still to be made; it asks nothing for an existing file: the run never replaces one.
    void qtDialogOpensAtPath_data()
    {
        QTest::addColumn<QString>("path"); // in a folder that holds x.zip
        QTest::newRow("existing file") << "x.zip";
        QTest::newRow("folders to make") << "DL/new/x.zip";
    }
    void qtDialogOpensAtPath()
    {
        QFETCH(QString, path);
        QTemporaryDir dir;
        test::writeFile(dir.filePath("x.zip"));
        QString shownFolder;
        QString shownName;
        bool asked = false;
        QTimer fileDialog;
        QTimer question;
        connect(&fileDialog, &QTimer::timeout, [&] {
            if (auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                shownFolder = files->directory().path();
                shownName = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
                QMetaObject::invokeMethod(files, "accept");
                if (asked)
                    files->reject();
            }
        });
        connect(&question, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                asked = true;
                box->reject();
            }
        });
        fileDialog.start(50);
        question.start(50);
        QtSaveAsDialog dialog;
        const Result<QString> chosen = dialog.showSave(nullptr, dir.filePath(path));
        QVERIFY(!asked);
        QCOMPARE(shownFolder, dir.path());
        QCOMPARE(shownName, path);
        QVERIFY(chosen.ok());
        QCOMPARE(chosen.value(), dir.filePath(path));
    }

    void alwaysOnTopFollowsCheckBox()
    {
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        auto *box = control<QCheckBox>("ChkAlwaysOnTop");
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QVERIFY(!m_form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!m_form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(m_form->isVisible());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(m_form->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(m_form->isVisible());
    }

    void tabOrder()
    {
        m_form->show();
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        QCOMPARE(QApplication::focusWidget(), txtPage());
        QStringList visited;
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"txtPath", "cmdDownLoad", "cmdOpen", "ListDl", "cmdEfface",
                                       "ChkAlwaysOnTop", "txtPage"}));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("txtPage") << "txtPage" << QRect(8, 136, 361, 19)
                                 << "N'importe quelle adresse valide, html, exe, zip...etc";
        QTest::newRow("txtPath") << "txtPath" << QRect(32, 176, 337, 19)
                                 << "Là où vous souhaitez enregistrer le fichier";
        QTest::newRow("cmdDownLoad")
            << "cmdDownLoad" << QRect(8, 80, 129, 29) << "Télécharger les fichiers de la liste";
        QTest::newRow("Label1") << "Label1" << QRect(8, 120, 225, 17) << "";
        QTest::newRow("Label2") << "Label2" << QRect(8, 160, 185, 17) << "";
        QTest::newRow("labMess") << "labMess" << QRect(144, 8, 225, 17) << "";
        QTest::newRow("cmdOpen") << "cmdOpen" << QRect(8, 178, 25, 17) << "";
        QTest::newRow("ListDl") << "ListDl" << QRect(144, 24, 225, 82)
                                << "Liste à télécharger (appuyez sur Suppr pour supprimer l'item)";
        QTest::newRow("listErr") << "listErr" << QRect(8, 208, 361, 43)
                                 << "Compte rendu du téléchargement";
        QTest::newRow("cmdEfface")
            << "cmdEfface" << QRect(232, 112, 137, 17) << "Réinitialise les paramètres";
        QTest::newRow("ChkAlwaysOnTop") << "ChkAlwaysOnTop" << QRect(8, 64, 14, 17) << "";
        QTest::newRow("Label3") << "Label3" << QRect(24, 64, 89, 17) << "";
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, toolTip);
        const auto *widget = m_form->findChild<QWidget *>(name);
        QVERIFY(widget);
        QCOMPARE(widget->geometry(), geometry);
        QCOMPARE(widget->toolTip(), toolTip);
        QVERIFY2(!widget->accessibleName().isEmpty() || qobject_cast<const QLabel *>(widget),
                 "a control without a name is mute for a screen reader");
        // Every label's text fits its place in the window's font.
        if (const auto *label = qobject_cast<const QLabel *>(widget))
            QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <= label->width());
    }

    // The queue holds at most 32,767 entries; a paste beyond adds nothing.
    void fullQueue()
    {
        for (int i = 0; i < MaxQueueEntries; ++i)
            txtPage()->setText(QStringLiteral("http://h/%1").arg(i));
        QCOMPARE(listDl()->count(), MaxQueueEntries);
        const QString pathBefore = txtPath()->text();
        paste(txtPage(), QStringLiteral("http://h/one-too-many"));
        QCOMPARE(listDl()->count(), MaxQueueEntries);
        QCOMPARE(m_form->queuedPages().size(), MaxQueueEntries);
        QCOMPARE(txtPath()->text(), pathBefore);
        listDl()->setCurrentRow(100);
        pressDelete();
        QCOMPARE(listDl()->count(), MaxQueueEntries - 1);
        QCOMPARE(m_form->queuedPages().at(100), QStringLiteral("http://h/101"));
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
