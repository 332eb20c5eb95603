#include "alwaysontop.h"
#include "messagebox.h"
#include "shellopen.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

using namespace quorrin;

// Stands in for the desktop's opener of one URL scheme.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};

class TestDesktopHelpers : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A program that writes its arguments, one per line, into `record`.
    QString recordingProgram(const QString &record)
    {
        const QString path = m_dir.filePath("record-arguments");
        QFile script(path);
        if (!script.open(QIODevice::WriteOnly))
            return {};
        script.write("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" +
                     record.toUtf8() + "'\n");
        script.setPermissions(script.permissions() | QFile::ExeOwner);
        return path;
    }

private Q_SLOTS:
    // An executable is started with the parameters as its one argument, spaces and TABs kept.
    void startsExecutableWithOneArgument_data()
    {
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<QByteArray>("recorded");
        QTest::newRow("four fields") << "setup_quorrin\t3\tQuorrin\tquorrin"
                                     << QByteArray("setup_quorrin\t3\tQuorrin\tquorrin\n");
        QTest::newRow("spaces stay in one argument") << "a b  c" << QByteArray("a b  c\n");
        QTest::newRow("no parameters, no argument") << "" << QByteArray("");
    }
    void startsExecutableWithOneArgument()
    {
        QFETCH(QString, parameters);
        QFETCH(QByteArray, recorded);
        const QString record = m_dir.filePath("record.txt");
        QFile::remove(record);
        const QString program = recordingProgram(record);
        QVERIFY(!program.isEmpty());
        ShellOpen(program, parameters);
        const auto contents = [&] {
            QFile file(record);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
        };
        QTRY_COMPARE(contents(), recorded);
    }

    void opensOnlyWhatExists_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("opened");
        QTest::newRow("document") << "document.pdf" << true;
        QTest::newRow("missing path") << "/nowhere/setup.pdf" << false;
        QTest::newRow("missing file address") << "file:///nowhere/setup.pdf" << false;
    }
    void opensOnlyWhatExists()
    {
        QFETCH(QString, file);
        QFETCH(bool, opened);
        QFile document(m_dir.filePath("document.pdf"));
        QVERIFY(document.open(QIODevice::WriteOnly));
        document.close();
        UrlRecorder opener;
        QDesktopServices::setUrlHandler("file", &opener, "open");
        ShellOpen(file.contains('/') ? file : document.fileName(), QString());
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opener.opened,
                 opened ? QList<QUrl>{QUrl::fromLocalFile(document.fileName())} : QList<QUrl>{});
    }

    void alwaysOnTop()
    {
        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        SetAlwaysOnTop(&window, false); // not topmost: nothing changes
        QVERIFY(!window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        for (int i = 0; i < 2; ++i) {
            SetAlwaysOnTop(&window, true);
            QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
            QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QVERIFY(window.isVisible()); // stays mapped: no flicker, no new placement
        }
        SetAlwaysOnTop(&window, false);
        QVERIFY(!window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(window.isVisible());
    }

    // A box with no window of its own to stay above, shown while another program's topmost
    // window is in front, comes above it and takes the keyboard; an ordinary box stays in the
    // normal layer.
    void messageBoxAboveAllWindows_data()
    {
        QTest::addColumn<bool>("above");
        QTest::newRow("above all windows") << true;
        QTest::newRow("ordinary") << false;
    }
    void messageBoxAboveAllWindows()
    {
        QFETCH(bool, above);
        QWidget topmost(nullptr, Qt::WindowStaysOnTopHint);
        topmost.show();
        topmost.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&topmost));
        bool onTop = !above;
        bool active = false;
        int ticks = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            // A box that never becomes active is closed after ten seconds.
            if (!box || (above && QApplication::activeWindow() != box && ++ticks < 500))
                return;
            onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint) &&
                    box->windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint);
            active = QApplication::activeWindow() == box;
            box->accept();
        });
        poll.start(20);
        Message message{"Mise à jour de Quorrin", "Texte"};
        message.aboveAllWindows = above;
        showMessage(nullptr, message);
        QCOMPARE(onTop, above);
        if (above)
            QVERIFY(active);
    }
};

QTEST_MAIN(TestDesktopHelpers)
#include "tst_desktophelpers.moc"
