#include "bodymarkup.h"

#include <QTest>

using namespace quorrin;
using namespace quorrin::updater;

class TestBodyMarkup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void body_data();
    void body();
};

void TestBodyMarkup::body_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QString>("markup");

    QTest::newRow("plain page")
        << QStringLiteral("<html><head><title>body</title></head><body><p>x</p></body></html>")
        << QStringLiteral("<p>x</p>");
    QTest::newRow("markup kept as sent")
        << QStringLiteral("<BODY>\n  <A href=\"setup_quorrin12.exe\">Q</A>\n</BODY>")
        << QStringLiteral("\n  <A href=\"setup_quorrin12.exe\">Q</A>\n");
    QTest::newRow("tag names in any case")
        << QStringLiteral("<bOdY>x</BoDy>") << QStringLiteral("x");
    QTest::newRow("attributes on the start tag")
        << QStringLiteral("<body bgcolor=#ffffff\n class=\"a\">x</body>") << QStringLiteral("x");
    QTest::newRow("quoted > in an attribute")
        << QStringLiteral("<body onload=\"go(1>0)\" title = 'a>b'>x</body>") << QStringLiteral("x");
    QTest::newRow("spaces in the end tag")
        << QStringLiteral("<body\n>x</body >") << QStringLiteral("x");
    QTest::newRow("<bodyx> is not a body tag")
        << QStringLiteral("<bodyx>y</bodyx><body>x</body>") << QStringLiteral("x");
    QTest::newRow("</bodyx> does not end the body")
        << QStringLiteral("<body>x</bodyx>y</body>") << QStringLiteral("x</bodyx>y");
    QTest::newRow("no body tag: the whole document")
        << QStringLiteral("<A href=\"s1.exe\">") << QStringLiteral("<A href=\"s1.exe\">");
    QTest::newRow("no end tag: up to the end")
        << QStringLiteral("<body>x<p>y") << QStringLiteral("x<p>y");
    QTest::newRow("start tag never closed") << QStringLiteral("<body class=\"x>y") << QString();
    QTest::newRow("empty body") << QStringLiteral("<body></body>") << QString();
    QTest::newRow("empty document") << QString() << QString();
}

void TestBodyMarkup::body()
{
    QFETCH(QString, document);
    QFETCH(QString, markup);
    QCOMPARE(bodyMarkup(document), markup);
}

QTEST_GUILESS_MAIN(TestBodyMarkup)
#include "tst_bodymarkup.moc"
