#include "desktopopener.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::updater;

namespace {

const QString Type = QStringLiteral("application/x-ms-dos-executable");

// A desktop entry of an application, with the given lines after its name and program.
QByteArray entry(const QByteArray &more = {})
{
    return "[Desktop Entry]\nType=Application\nName=Runner\nExec=/bin/true %f\n" + more;
}

} // namespace

class TestDesktopOpener : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each row: files below a scratch root (config/ holds the user's lists, user/ and system/
    // the applications folders, most preferred first), and whether the type has a program.
    void registration_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QList<QByteArray>>("contents");
        QTest::addColumn<bool>("registered");
        QTest::newRow("nothing registered") << QStringList{} << QList<QByteArray>{} << false;
        QTest::newRow("entry lists the type")
            << QStringList{"system/runner.desktop"}
            << QList<QByteArray>{entry("MimeType=text/plain;" + Type.toUtf8() + ";\n")} << true;
        QTest::newRow("entry lists another type")
            << QStringList{"system/runner.desktop"}
            << QList<QByteArray>{entry("MimeType=text/plain;\n")} << false;
        QTest::newRow("hidden entry")
            << QStringList{"system/runner.desktop"}
            << QList<QByteArray>{entry("Hidden=true\nMimeType=" + Type.toUtf8() + "\n")} << false;
        // A user's hidden copy hides the system's entry of the same id.
        QTest::newRow("hidden by the user")
            << QStringList{"user/runner.desktop", "system/runner.desktop"}
            << QList<QByteArray>{"[Desktop Entry]\nHidden=true\n",
                                 entry("MimeType=" + Type.toUtf8() + "\n")}
            << false;
        QTest::newRow("program not installed")
            << QStringList{"system/runner.desktop"}
            << QList<QByteArray>{entry("TryExec=no-such-program-here\nMimeType=" + Type.toUtf8() +
                                       "\n")}
            << false;
        QTest::newRow("not an application")
            << QStringList{"system/runner.desktop"}
            << QList<QByteArray>{"[Desktop Entry]\nType=Link\nURL=x\nMimeType=" + Type.toUtf8() +
                                 "\n"}
            << false;
        QTest::newRow("default of the user's list, entry in a subfolder")
            << QStringList{"config/mimeapps.list", "system/vendor/runner.desktop"}
            << QList<QByteArray>{"[Default Applications]\n" + Type.toUtf8() +
                                     "=vendor-runner.desktop\n",
                                 entry()}
            << true;
        QTest::newRow("list names a missing entry")
            << QStringList{"config/mimeapps.list"}
            << QList<QByteArray>{"[Added Associations]\n" + Type.toUtf8() + "=runner.desktop;\n"}
            << false;
        QTest::newRow("association removed by the user")
            << QStringList{"config/mimeapps.list", "system/runner.desktop"}
            << QList<QByteArray>{"[Removed Associations]\n" + Type.toUtf8() + "=runner.desktop;\n",
                                 entry("MimeType=" + Type.toUtf8() + "\n")}
            << false;
    }
    void registration()
    {
        QFETCH(QStringList, files);
        QFETCH(QList<QByteArray>, contents);
        QFETCH(bool, registered);
        QTemporaryDir root;
        for (int i = 0; i < files.size(); ++i) {
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(files[i]).path()));
            test::writeFile(root.filePath(files[i]), contents[i]);
        }
        const DesktopRegistry registry{
            {root.filePath("config")}, {root.filePath("user"), root.filePath("system")}, {}};
        QCOMPARE(applicationRegisteredFor({Type}, registry), registered);
    }

    // An installer is opened as its type or a type it is a kind of, never as mere bytes.
    void installerTypes()
    {
        const QStringList types = openingTypes(QStringLiteral("/tmp/setup_quorrin4.exe"));
        QVERIFY2(types.contains(Type), qPrintable(types.join(' ')));
        QVERIFY(!types.contains(QStringLiteral("application/octet-stream")));
    }

    // An executable installer starts by itself; a file that is not there opens nowhere.
    void executableOpensItself()
    {
        QTemporaryDir dir;
        const QString installer = dir.filePath("setup_quorrin4.exe");
        test::writeFile(installer, "#!/bin/sh\n");
        QVERIFY(QFile::setPermissions(installer, QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(desktopCanOpen(installer));
        QVERIFY(!desktopCanOpen(dir.filePath("missing.exe")));
    }
};

QTEST_GUILESS_MAIN(TestDesktopOpener)
#include "tst_desktopopener.moc"
