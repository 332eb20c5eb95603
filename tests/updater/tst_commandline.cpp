#include "commandline.h"
#include "updatetexts.h"

#include <QTest>

using namespace quorrin;
using namespace quorrin::updater;

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void split_data();
    void split();
    void joinArguments_data();
    void joinArguments();
    void messages();
};

void TestCommandLine::split_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("four fields as Quorrin sends them")
        << QStringLiteral("setup_quorrin\t3\tQuorrin\tquorrin")
        << QStringList{QStringLiteral("setup_quorrin"), QStringLiteral("3"),
                       QStringLiteral("Quorrin"), QStringLiteral("quorrin")};
    QTest::newRow("a fifth field is split off too")
        << QStringLiteral("s\t3\tQuorrin\tquorrin\textra")
        << QStringList{QStringLiteral("s"), QStringLiteral("3"), QStringLiteral("Quorrin"),
                       QStringLiteral("quorrin"), QStringLiteral("extra")};
    QTest::newRow("a trailing TAB leaves an empty fifth field")
        << QStringLiteral("s\t3\tQuorrin\tquorrin\t")
        << QStringList{QStringLiteral("s"), QStringLiteral("3"), QStringLiteral("Quorrin"),
                       QStringLiteral("quorrin"), QString()};
    // Only TAB separates: spaces stay inside fields, at either end too.
    QTest::newRow("spaces are kept")
        << QStringLiteral("s\t3\t Ma Super App \tquorrin")
        << QStringList{QStringLiteral("s"), QStringLiteral("3"), QStringLiteral(" Ma Super App "),
                       QStringLiteral("quorrin")};
    QTest::newRow("fewer fields") << QStringLiteral("s\t3")
                                  << QStringList{QStringLiteral("s"), QStringLiteral("3")};
    QTest::newRow("empty fields are kept")
        << QStringLiteral("\t\t") << QStringList{QString(), QString(), QString()};
    QTest::newRow("quotes have no meaning")
        << QStringLiteral("\"s\t3\"") << QStringList{QStringLiteral("\"s"), QStringLiteral("3\"")};
    QTest::newRow("empty command line") << QString() << QStringList();
}

void TestCommandLine::split()
{
    QFETCH(QString, commandLine);
    QFETCH(QStringList, fields);
    QCOMPARE(splitCommandLine(commandLine), fields);
}

void TestCommandLine::joinArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("commandLine");

    QTest::newRow("one argument holding the fields")
        << QStringList{QStringLiteral("s\t3\tQuorrin\tquorrin")}
        << QStringLiteral("s\t3\tQuorrin\tquorrin");
    QTest::newRow("several arguments")
        << QStringList{QStringLiteral("a"), QStringLiteral("b c")} << QStringLiteral("a b c");
    QTest::newRow("no argument") << QStringList() << QString();
    QTest::newRow("one empty argument") << QStringList{QString()} << QString();
}

void TestCommandLine::joinArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, commandLine);
    QCOMPARE(updater::joinArguments(arguments), commandLine);
}

void TestCommandLine::messages()
{
    // A leading space of field 2 stays: two spaces after "de".
    const QStringList updArgs = splitCommandLine(QStringLiteral("s\t3\t Quorrin\tquorrin"));
    QCOMPARE(updateTitle(updArgs.at(NameField)), QStringLiteral("Mise à jour de  Quorrin"));
    QCOMPARE(manualLaunchTitle(), QStringLiteral("Updater : lancement manuel"));
    QCOMPARE(manualLaunchQuestion(QStringLiteral("http://updates.test/q/")),
             QStringLiteral(
                 "Ce programme recherche automatiquement des mises à jour sur :\n"
                 "http://updates.test/q/vb_addons.htm\n"
                 "\n"
                 "Il se lance à partir d'une application Harrowind comme par exemple Ketterby\n"
                 "\n"
                 "Voulez-vous visiter cette page ?"));
    QCOMPARE(notFoundMessage(QStringLiteral("Quorrin")),
             QStringLiteral("Impossible de trouver la page des mises à jour de Quorrin !\n"
                            "\n"
                            "Vous n'êtes peut-être pas connecté(e)\n"
                            "ou la page vb_Addons n'est pas disponible ou n'est plus conforme"));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
