#include "addresslist.h"
#include "startarguments.h"
#include "startupnotification.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::downloader;

namespace {

// The sources as the rows spell them: an address as it is, a list file after "@".
QStringList spelt(const QList<StartArguments::Source> &sources)
{
    QStringList texts;
    for (const StartArguments::Source &source : sources)
        texts << (source.isFile ? "@" + source.text : source.text);
    return texts;
}

} // namespace

class TestStartArguments : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("sources");
        const int queue = int(StartArguments::Action::Queue);
        QTest::newRow("nothing") << QStringList() << queue << QStringList();
        QTest::newRow("addresses and lists, in their order")
            << QStringList{"http://h/1", "-i", "l.txt", "http://h/2", "--input-file=m.txt"} << queue
            << QStringList{"http://h/1", "@l.txt", "http://h/2", "@m.txt"};
        QTest::newRow("short option's value joined")
            << QStringList{"-il.txt"} << queue << QStringList{"@l.txt"};
        QTest::newRow("long option's value next")
            << QStringList{"--input-file", "l.txt"} << queue << QStringList{"@l.txt"};
        QTest::newRow("long option by its beginning")
            << QStringList{"--inp", "l.txt"} << queue << QStringList{"@l.txt"};
        QTest::newRow("standard input") << QStringList{"-i", "-"} << queue << QStringList{"@-"};
        QTest::newRow("a value that looks like an option")
            << QStringList{"-i", "--help"} << queue << QStringList{"@--help"};
        QTest::newRow("a lone dash is no option") << QStringList{"-"} << queue << QStringList{"-"};
        QTest::newRow("after --, only addresses") << QStringList{"--", "-i", "--help", "--"}
                                                  << queue << QStringList{"-i", "--help", "--"};
        // A session manager restarts a program with -session; Qt reads its own options.
        QTest::newRow("Qt's options left to Qt")
            << QStringList{"-platform", "offscreen", "-style=fusion", "--session",
                           "s1",        "-reverse",  "http://h/1"}
            << queue << QStringList{"http://h/1"};
        QTest::newRow("help, whatever follows")
            << QStringList{"http://h/1", "--help", "--bogus"} << int(StartArguments::Action::Help)
            << QStringList{"http://h/1"};
        QTest::newRow("help by its beginning")
            << QStringList{"--he"} << int(StartArguments::Action::Help) << QStringList();
        QTest::newRow("version") << QStringList{"--version"} << int(StartArguments::Action::Version)
                                 << QStringList();
    }
    void parses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, action);
        QFETCH(QStringList, sources);
        const Result<StartArguments> parsed = parseStartArguments(arguments);
        QVERIFY2(parsed, qPrintable(parsed.cause()));
        QCOMPARE(int(parsed.value().action), action);
        QCOMPARE(spelt(parsed.value().sources), sources);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("cause");
        const QString unknown =
            QStringLiteral("option inconnue « %1 » (quorrin --help donne la liste des options)");
        QTest::newRow("unknown long option") << QStringList{"--bogus"} << unknown.arg("--bogus");
        QTest::newRow("unknown short option") << QStringList{"-xi"} << unknown.arg("-x");
        QTest::newRow("one dash for a long option") << QStringList{"-help"} << unknown.arg("-h");
        QTest::newRow("an error before help")
            << QStringList{"--bogus=1", "--help"} << unknown.arg("--bogus");
        QTest::newRow("list without its file")
            << QStringList{"http://h/1", "-i"}
            << QStringLiteral("l'option « -i » attend un nom de fichier");
        QTest::newRow("list with an empty name")
            << QStringList{"--input-file="}
            << QStringLiteral("l'option « --input-file » attend un nom de fichier");
        QTest::newRow("abbreviated list without its file")
            << QStringList{"--in"} << QStringLiteral("l'option « --in » attend un nom de fichier");
        QTest::newRow("value for an option that takes none")
            << QStringList{"--help=yes"}
            << QStringLiteral("l'option « --help » ne prend pas de valeur");
    }
    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, cause);
        const Result<StartArguments> parsed = parseStartArguments(arguments);
        QVERIFY(!parsed);
        QCOMPARE(parsed.cause(), cause);
    }

    // A list's lines are queued as a paste of its text would queue them, in the command
    // line's order among the addresses.
    void addressesInOrder()
    {
        QTemporaryDir directory;
        const QString list = directory.filePath("list.txt");
        test::writeFile(list, "\xef\xbb\xbfhttp://h/été.zip\r\n\r\n  http://h/2 \rhttp://h/3");
        const Result<QStringList> addresses =
            addressesOf({{false, "http://h/0"}, {true, list}, {false, " http://h/4\nhttp://h/5"}});
        QVERIFY2(addresses, qPrintable(addresses.cause()));
        QCOMPARE(addresses.value(), (QStringList{"http://h/0", "http://h/été.zip", "http://h/2",
                                                 "http://h/3", "http://h/4", "http://h/5"}));
    }

    void unreadableList_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing") << "missing.txt"
                                 << "fichier introuvable";
        QTest::newRow("a directory") << "."
                                     << "c'est un dossier";
    }
    void unreadableList()
    {
        QFETCH(QString, name);
        QFETCH(QString, cause);
        QTemporaryDir directory;
        const QString path = directory.filePath(name);
        const Result<QStringList> addresses = addressesOf({{false, "http://h/0"}, {true, path}});
        QVERIFY(!addresses);
        QCOMPARE(addresses.cause(),
                 QStringLiteral("impossible de lire « %1 » : %2").arg(path, cause));
    }

    void startupTime_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<uint>("time");
        QTest::newRow("at the end") << "launcher-12-host-quorrin-0_TIME417539" << 417539u;
        QTest::newRow("the last one counts") << "a_TIME1_TIME22" << 22u;
        QTest::newRow("none") << "launcher-12-host" << 0u;
        QTest::newRow("no digits") << "a_TIMEx" << 0u;
        QTest::newRow("beyond 32 bits") << "a_TIME4294967296" << 0u;
    }
    void startupTime()
    {
        QFETCH(QString, id);
        QFETCH(uint, time);
        QCOMPARE(startupIdTime(id), time);
    }

    // The id is read back whole by the launcher that waits for it, blanks and quotes included.
    void startupRemoveMessage_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("plain") << "l-1_TIME5" << QByteArray("remove: ID=l-1_TIME5");
        QTest::newRow("blank") << "l 1" << QByteArray("remove: ID=\"l 1\"");
        QTest::newRow("quote and backslash") << "l\"1\\" << QByteArray("remove: ID=\"l\\\"1\\\\\"");
    }
    void startupRemoveMessage()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, message);
        QCOMPARE(downloader::startupRemoveMessage(id), message);
    }
};

QTEST_GUILESS_MAIN(TestStartArguments)
#include "tst_startarguments.moc"
