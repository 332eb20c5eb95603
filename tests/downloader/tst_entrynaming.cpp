#include "entrynaming.h"

#include <QTest>

using namespace quorrin;

class TestEntryNaming : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fileName_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("found");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "http://host/dir/file.zip" << true << "file.zip";
        QTest::newRow("query stays") << "http://h/get?id=1/x" << true << "x";
        QTest::newRow("query after name") << "http://h/f.zip?x=1" << true << "f.zip?x=1";
        QTest::newRow("ends with slash") << "http://host/dir/" << true << "";
        QTest::newRow("scheme only") << "http://" << true << "";
        QTest::newRow("no slash") << "host.zip" << false << "";
        QTest::newRow("empty") << "" << false << "";
    }
    void fileName()
    {
        QFETCH(QString, address);
        QFETCH(bool, found);
        QFETCH(QString, name);
        const std::optional<QString> result = fileNameFromAddress(address);
        QCOMPARE(result.has_value(), found);
        if (found)
            QCOMPARE(*result, name);
    }

    void sameDirectory_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected"); // "-" when no path is proposed
        QTest::newRow("file replaced") << "/home/u/DL/a.zip"
                                       << "b.zip"
                                       << "/home/u/DL/b.zip";
        QTest::newRow("directory kept") << "/home/u/DL/"
                                        << "b.zip"
                                        << "/home/u/DL/b.zip";
        QTest::newRow("empty name") << "/home/u/DL/a.zip"
                                    << ""
                                    << "/home/u/DL/";
        QTest::newRow("root") << "/a"
                              << "b"
                              << "/b";
        QTest::newRow("no separator") << "a.zip"
                                      << "b.zip"
                                      << "-";
        QTest::newRow("backslash is no separator") << "C:\\DL\\a.zip"
                                                   << "b"
                                                   << "-";
    }
    void sameDirectory()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const std::optional<QString> result = pathInSameDirectory(path, name);
        QCOMPARE(result.value_or(QStringLiteral("-")), expected);
    }
};

QTEST_APPLESS_MAIN(TestEntryNaming)
#include "tst_entrynaming.moc"
