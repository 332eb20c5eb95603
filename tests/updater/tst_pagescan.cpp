#include "pagescan.h"
#include "urlencoding.h"

#include <QDir>
#include <QTest>

using namespace quorrin;
using namespace quorrin::updater;
using Action = ScanResult::Action;

namespace {

const QString ProgramDirectory = QStringLiteral("/opt/quorrin");
const QString BaseUrl = QStringLiteral("http://updates.test/quorrin/");

QStringList fields(const QString &stem, const QString &revision)
{
    return {stem, revision, QStringLiteral("Quorrin"), QStringLiteral("quorrin")};
}

// The update page's body with `links` (the text after `<A href="`) as anchors.
QString page(const QStringList &links)
{
    QString html = QStringLiteral("\n<H1>Mises à jour</H1>\n<UL>\n");
    for (const QString &link : links)
        html += QStringLiteral("<LI><A href=\"") + link + QStringLiteral("\">Télécharger</A>\n");
    return html + QStringLiteral("</UL>\n");
}

QString page(const QString &link)
{
    return page(QStringList{link});
}

} // namespace

class TestPageScan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scan_data();
    void scan();
    void newerInstaller();
    void installerInRootDirectory();
    void addressNamesTheSavedFile_data();
    void addressNamesTheSavedFile();
};

void TestPageScan::scan_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("updArgs");
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("installerName");
    QTest::addColumn<QString>("pageRevision");

    const QString stem = QStringLiteral("setup_quorrin");
    const QString rev12 = QStringLiteral("setup_quorrin12.exe");
    const QString twelve = QStringLiteral("12");

    QTest::newRow("page 12, caller 3: newer")
        << page(rev12) << fields(stem, QStringLiteral("3")) << Action::Notify << rev12 << twelve;
    QTest::newRow("page 12, caller 12: up to date")
        << page(rev12) << fields(stem, twelve) << Action::UpToDate << rev12 << twelve;
    QTest::newRow("page 12, caller 15: up to date")
        << page(rev12) << fields(stem, QStringLiteral("15")) << Action::UpToDate << rev12 << twelve;
    QTest::newRow("revisions compare as numbers, not text")
        << page(QStringLiteral("setup_quorrin10.exe")) << fields(stem, QStringLiteral("9"))
        << Action::Notify << QStringLiteral("setup_quorrin10.exe") << QStringLiteral("10");
    QTest::newRow("seven digits: the last six count (reads 4)")
        << page(QStringLiteral("setup_quorrin1000004.exe")) << fields(stem, QStringLiteral("3"))
        << Action::Notify << QStringLiteral("setup_quorrin1000004.exe") << QStringLiteral("000004");
    QTest::newRow("seven digits, caller 4: up to date")
        << page(QStringLiteral("setup_quorrin1000004.exe")) << fields(stem, QStringLiteral("4"))
        << Action::UpToDate << QStringLiteral("setup_quorrin1000004.exe")
        << QStringLiteral("000004");
    QTest::newRow("a stem ending in digits lends them to the revision")
        << page(QStringLiteral("setup_v23.exe")) << fields(QStringLiteral("setup_v2"), twelve)
        << Action::Notify << QStringLiteral("setup_v23.exe") << QStringLiteral("23");
    QTest::newRow("only the first link counts")
        << page({QStringLiteral("setup_quorrin4.exe"), QStringLiteral("setup_quorrin99.exe")})
        << fields(stem, QStringLiteral("4")) << Action::UpToDate
        << QStringLiteral("setup_quorrin4.exe") << QStringLiteral("4");
    QTest::newRow("another program's link before it")
        << page({QStringLiteral("setup_other99.exe"), rev12}) << fields(stem, QStringLiteral("3"))
        << Action::Notify << rev12 << twelve;
    QTest::newRow("an empty stem takes the first link")
        << page(QStringLiteral("setup_other99.exe")) << fields(QString(), QStringLiteral("3"))
        << Action::Notify << QStringLiteral("setup_other99.exe") << QStringLiteral("99");
    QTest::newRow("name of exactly 255 bytes")
        << page(stem + QString(236, QLatin1Char('a')) + QStringLiteral("12.exe"))
        << fields(stem, QStringLiteral("3")) << Action::Notify
        << stem + QString(236, QLatin1Char('a')) + QStringLiteral("12.exe") << twelve;

    // Links that are not spelt exactly as published.
    QTest::newRow("lower-case tag")
        << QStringLiteral("<a href=\"setup_quorrin12.exe\">") << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();
    QTest::newRow("single quotes")
        << QStringLiteral("<A href='setup_quorrin12.exe'>") << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();
    QTest::newRow("no quotes") << QStringLiteral("<A href=setup_quorrin12.exe>")
                               << fields(stem, QStringLiteral("3")) << Action::NotFound << QString()
                               << QString();
    QTest::newRow("empty page") << QString() << fields(stem, QStringLiteral("3"))
                                << Action::NotFound << QString() << QString();
    QTest::newRow("link without .exe")
        << page(QStringLiteral("setup_quorrin12.zip")) << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();
    QTest::newRow("no digit before .exe")
        << page(QStringLiteral("setup_quorrin.exe")) << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();

    // Names that would lead out of the program's directory, or cannot be a file name.
    QTest::newRow("parent directories in the link")
        << page(QStringLiteral("setup_quorrin/../../../etc/cron.daily/x12.exe"))
        << fields(stem, QStringLiteral("3")) << Action::NotFound << QString() << QString();
    QTest::newRow("parent directories in the stem")
        << page(QStringLiteral("../setup12.exe"))
        << fields(QStringLiteral("../setup"), QStringLiteral("3")) << Action::NotFound << QString()
        << QString();
    QTest::newRow("backslash in the name")
        << page(QStringLiteral("setup_quorrin\\..\\x12.exe")) << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();
    QTest::newRow("line feed in the name")
        << page(QStringLiteral("setup_quorrin\n12.exe")) << fields(stem, QStringLiteral("3"))
        << Action::NotFound << QString() << QString();
    // The first ".exe" may lie far past the link's end, across markup.
    QTest::newRow(".exe only in a later element")
        << QStringLiteral("<A href=\"setup_quorrin\">x</A><P>tool12.exe</P>")
        << fields(stem, QStringLiteral("3")) << Action::NotFound << QString() << QString();
    QTest::newRow("name over 255 bytes in UTF-8")
        << page(stem + QString(122, QChar(0xE9)) + QStringLiteral("12.exe"))
        << fields(stem, QStringLiteral("3")) << Action::NotFound << QString() << QString();

    const qsizetype fiveMiB = 5 * 1024 * 1024;
    QTest::newRow("5 MiB page, link at its end")
        << QString(fiveMiB, QLatin1Char('x')) + page(rev12) << fields(stem, QStringLiteral("3"))
        << Action::Notify << rev12 << twelve;
    QTest::newRow("5 MiB of broken links")
        << QStringLiteral("<A href=\"setup_quorrin").repeated(fiveMiB / 22)
        << fields(stem, QStringLiteral("3")) << Action::NotFound << QString() << QString();
    QTest::newRow("5 MiB name") << page(stem + QString(fiveMiB, QLatin1Char('a')) +
                                        QStringLiteral("12.exe"))
                                << fields(stem, QStringLiteral("3")) << Action::NotFound
                                << QString() << QString();

    // Command lines the scan cannot use.
    QTest::newRow("caller revision too big for 32 bits")
        << page(rev12) << fields(stem, QStringLiteral("2147483648")) << Action::EndSilently << rev12
        << twelve;
    // 2^64 + 5: a 64-bit accumulator that wraps would read 5.
    QTest::newRow("caller revision past 64 bits")
        << page(rev12) << fields(stem, QStringLiteral("18446744073709551621"))
        << Action::EndSilently << rev12 << twelve;
    QTest::newRow("largest caller revision")
        << page(rev12) << fields(stem, QStringLiteral("2147483647")) << Action::UpToDate << rev12
        << twelve;
    QTest::newRow("caller revision not a number")
        << page(rev12) << fields(stem, QStringLiteral("trois")) << Action::EndSilently << rev12
        << twelve;
    QTest::newRow("caller revision with trailing text")
        << page(rev12) << fields(stem, QStringLiteral("3b")) << Action::EndSilently << rev12
        << twelve;
    QTest::newRow("caller revision empty")
        << page(rev12) << fields(stem, QString()) << Action::EndSilently << rev12 << twelve;
    QTest::newRow("three fields") << page(rev12)
                                  << QStringList{stem, QStringLiteral("3"), QStringLiteral("Q")}
                                  << Action::EndSilently << QString() << QString();
    QTest::newRow("no fields") << page(rev12) << QStringList() << Action::EndSilently << QString()
                               << QString();
}

void TestPageScan::scan()
{
    QFETCH(QString, html);
    QFETCH(QStringList, updArgs);
    QFETCH(Action, action);
    QFETCH(QString, installerName);
    QFETCH(QString, pageRevision);

    const ScanResult result = readUpdatePage(html, updArgs, ProgramDirectory, BaseUrl);
    QCOMPARE(result.action, action);
    QCOMPARE(result.installerName, installerName);
    QCOMPARE(result.pageRevision, pageRevision);
    if (action == Action::Notify) {
        // Whatever the page holds, the installer lands in the program's directory.
        QCOMPARE(result.setupPath, ProgramDirectory + QLatin1Char('/') + installerName);
        QCOMPARE(QFileInfo(QDir::cleanPath(result.setupPath)).absolutePath(), ProgramDirectory);
    } else {
        QVERIFY(result.setupPath.isEmpty());
    }
}

void TestPageScan::newerInstaller()
{
    const QStringList updArgs{QStringLiteral("setup_quorrin"), QStringLiteral("3"),
                              QStringLiteral(" Quorrin"), QStringLiteral("quorrin")};
    const ScanResult result = readUpdatePage(page(QStringLiteral("setup_quorrin12.exe")), updArgs,
                                             ProgramDirectory, BaseUrl);
    QCOMPARE(result.action, Action::Notify);
    QCOMPARE(result.setupPath, QStringLiteral("/opt/quorrin/setup_quorrin12.exe"));
    QCOMPARE(result.downloadUrl, QStringLiteral("http://updates.test/quorrin/setup_quorrin12.exe"));
    QCOMPARE(result.signatureUrl,
             QStringLiteral("http://updates.test/quorrin/setup_quorrin12.exe.minisig"));
    QCOMPARE(result.notification, QStringLiteral("Une nouvelle version de\n"
                                                 " Quorrin  (révision 12)\n"
                                                 "est disponible !\n"
                                                 "\n"
                                                 "Cliquez ici pour l'installer."));
}

void TestPageScan::installerInRootDirectory()
{
    const ScanResult result = readUpdatePage(
        page(QStringLiteral("setup_quorrin12.exe")),
        fields(QStringLiteral("setup_quorrin"), QStringLiteral("3")), QStringLiteral("/"), BaseUrl);
    QCOMPARE(result.setupPath, QStringLiteral("/setup_quorrin12.exe"));
}

// Characters that mean something in an address are part of the name: the request asks for
// exactly the file that is saved, also once the transfer has put the address in its form.
void TestPageScan::addressNamesTheSavedFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("request");

    QTest::newRow("#") << QStringLiteral("setup_quorrin#12.exe")
                       << QByteArray("http://updates.test/quorrin/setup_quorrin%2312.exe");
    QTest::newRow("?") << QStringLiteral("setup_quorrin?a=12.exe")
                       << QByteArray("http://updates.test/quorrin/setup_quorrin%3Fa%3D12.exe");
    QTest::newRow("% that starts an escape")
        << QStringLiteral("setup_quorrin%4112.exe")
        << QByteArray("http://updates.test/quorrin/setup_quorrin%254112.exe");
}

void TestPageScan::addressNamesTheSavedFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, request);
    const ScanResult result =
        readUpdatePage(page(name), fields(QStringLiteral("setup_quorrin"), QStringLiteral("3")),
                       ProgramDirectory, BaseUrl);
    QCOMPARE(result.action, Action::Notify);
    QCOMPARE(result.setupPath, ProgramDirectory + QLatin1Char('/') + name);
    QCOMPARE(percentEncodedUrl(result.downloadUrl), request);
    QCOMPARE(percentEncodedUrl(result.signatureUrl), request + ".minisig");
}

QTEST_GUILESS_MAIN(TestPageScan)
#include "tst_pagescan.moc"
