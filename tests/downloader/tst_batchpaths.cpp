#include "directorynames.h"
#include "downloadtarget.h"
#include "freenames.h"
#include "pathlimits.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace quorrin;
using namespace quorrin::downloader;

class TestBatchPaths : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString at(const QString &relative) const { return m_dir.filePath(relative); }

private Q_SLOTS:
    void numbered_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("extension") << "/DL/a.zip"
                                   << "/DL/a_1.zip";
        QTest::newRow("last dot only") << "/DL/a.tar.gz"
                                       << "/DL/a.tar_1.gz";
        QTest::newRow("no dot") << "/DL/readme"
                                << "/DL/readme_1";
        // A dot in a directory's name is not the file's extension.
        QTest::newRow("dot in a directory") << "/my.dir/readme"
                                            << "/my.dir/readme_1";
        QTest::newRow("directory path") << "/DL/"
                                        << "/DL/_1";
        QTest::newRow("relative, no separator") << "a.zip"
                                                << "a_1.zip";
    }
    void numbered()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(numberedPath(path, 1), expected);
    }

    void freeNameOnDisk()
    {
        test::writeFile(at("a.zip"));
        QCOMPARE(findFreeName(at("a.zip")).path, at("a_1.zip"));
        test::writeFile(at("a_1.zip"));
        QVERIFY(QDir().mkdir(at("a_2.zip"))); // a directory takes the name too
        const DownloadTarget free = findFreeName(at("a.zip"));
        QCOMPARE(free.path, at("a_3.zip"));
        QVERIFY(free.causes.isEmpty());
        QVERIFY(QFile::link(at("nowhere"), at("a_3.zip"))); // so does a dangling link
        QCOMPARE(findFreeName(at("a.zip")).path, at("a_4.zip"));
    }

    // Thousands of copies of one name: each search looks at a name or two, not at every copy
    // before it, and finds what a search from the first number would; a name it offered and
    // that was not taken after all is offered again.
    void freeNamesStayCheap()
    {
        QSet<QString> taken{"/DL/download"};
        int looks = 0;
        FreeNames names([&](const QString &candidate) -> Result<bool> {
            ++looks;
            return taken.contains(candidate);
        });
        for (int copy = 1; copy <= 2000; ++copy) {
            looks = 0;
            const QString found = names.find("/DL/download").path;
            QCOMPARE(found, findFreeName("/DL/download", [&](const QString &candidate) {
                                return Result<bool>(taken.contains(candidate));
                            }).path);
            QVERIFY2(looks <= 2, qPrintable(QString::number(looks)));
            if (copy != 10) // that copy fails to land
                taken.insert(found);
        }
    }

    // What a run knows of one directory's names never answers for another's, however its
    // lookups alternate between them.
    void directoryNamesKeptApart()
    {
        QVERIFY(QDir().mkpath(at("names/a")) && QDir().mkpath(at("names/b")));
        test::writeFile(at("names/b/x.bin"));
        DirectoryNames names;
        QVERIFY(!names.mayExist(at("names/a/x.bin")));
        QVERIFY(names.mayExist(at("names/b/x.bin")));
        QVERIFY(!names.mayExist(at("names/a/x.bin")));
        names.take(at("names/a/y.bin"));
        QVERIFY(!names.mayExist(at("names/b/y.bin")));
        QVERIFY(names.mayExist(at("names/a/y.bin")));
    }

    // A test that fails hands over the candidate under test, with the cause.
    void freeNameWhenTestFails()
    {
        const DownloadTarget free =
            findFreeName("/x/a.zip", [](const QString &candidate) -> Result<bool> {
                if (candidate == QLatin1String("/x/a_2.zip"))
                    return Failure{QStringLiteral("refusé")};
                return true;
            });
        QCOMPARE(free.path, QStringLiteral("/x/a_2.zip"));
        QCOMPARE(free.causes, QStringList{QStringLiteral("refusé")});
    }

    void prefixes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("absolute") << "/srv/new/sub/f.zip"
                                  << QStringList{"/srv", "/srv/new", "/srv/new/sub"};
        QTest::newRow("directory path") << "/srv/DL/" << QStringList{"/srv", "/srv/DL"};
        QTest::newRow("relative") << "a/b/f" << QStringList{"a", "a/b"};
        QTest::newRow("no separator") << "f.zip" << QStringList{};
        QTest::newRow("root only") << "/f.zip" << QStringList{};
    }
    void prefixes()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, expected);
        QCOMPARE(directoryPrefixes(path), expected);
    }

    void createsParentsInOrder()
    {
        QVERIFY(CreatePathDirectories(at("new/sub/f.zip")).ok());
        QVERIFY(QFileInfo(at("new/sub")).isDir());
        QVERIFY(!QFileInfo::exists(at("new/sub/f.zip")));
        QVERIFY(CreatePathDirectories(at("new/sub/f.zip")).ok()); // all there already
    }

    // A plain file where a directory should be: the first failure stops the walk.
    void stopsAtFirstFailure()
    {
        test::writeFile(at("blocker"));
        const Result<> made = CreatePathDirectories(at("blocker/sub/deeper/f.zip"));
        QVERIFY(!made);
        const QString cause = made.cause();
        QVERIFY(cause.contains(at("blocker/sub")));
        QVERIFY(!cause.contains(QLatin1String("deeper")));
    }

    // An empty cause means the test answers `present`; otherwise it fails with that cause.
    void existence_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("cause");
        QTest::newRow("missing") << "missing" << false << "";
        QTest::newRow("directory") << "." << true << "";
        // Under a plain file nothing can exist; that is no failure.
        QTest::newRow("under a plain file") << "plain/child" << false << "";
        QTest::newRow("name too long")
            << QString(5000, QLatin1Char('n')) << false << "Nom trop long";
    }
    void existence()
    {
        QFETCH(QString, relative);
        QFETCH(bool, present);
        QFETCH(QString, cause);
        test::writeFile(at("plain"));
        const Result<bool> exists = testExistence(at(relative));
        QVERIFY2(exists.ok() == cause.isEmpty(), qPrintable(exists.cause()));
        if (exists)
            QCOMPARE(exists.value(), present);
        else
            QVERIFY2(exists.cause().contains(cause), qPrintable(exists.cause()));
    }

    // What stands at a path that cannot be tested is not replaced either: both failed tests are
    // reported and the numbered name is used.
    void targetWhenTestFails()
    {
        QVERIFY(QFile::link(at("loop"), at("loop"))); // every look through it fails
        const DownloadTarget target = prepareTarget(at("loop/a.zip"));
        QCOMPARE(target.path, at("loop/a_1.zip"));
        QCOMPARE(target.causes.size(), 2);
        QVERIFY2(target.causes[0].contains(at("loop/a.zip")), qPrintable(target.causes[0]));
        QVERIFY2(target.causes[1].contains(at("loop/a_1.zip")), qPrintable(target.causes[1]));
        QVERIFY(target.usable);
    }

    // Names are measured in bytes against the file system of the nearest existing directory
    // (255 here); nothing is made.
    void pathLimits_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("cause");
        const QString name255(255, QLatin1Char('a'));
        const QString of256 = QStringLiteral(" : 256 octets, le système de fichiers en permet 255");
        QTest::newRow("name at the limit") << name255 << "";
        QTest::newRow("name one byte over") << name255 + "b"
                                            << "Nom de fichier trop long" + of256;
        QTest::newRow("accented name over in bytes")
            << QString(128, QChar(0xe9)) << "Nom de fichier trop long" + of256;
        QTest::newRow("directory still to be made") << "fresh/" + name255 + "b/f.zip"
                                                    << "Nom de dossier trop long" + of256;
        QTest::newRow("path ending in a long directory") << "fresh/" + name255 + "b/"
                                                         << "Nom de dossier trop long" + of256;
        QString deep;
        for (int i = 0; i < 20; ++i)
            deep += QString(250, QLatin1Char('d')) + "/";
        QTest::newRow("whole path too long") << deep + "f.zip"
                                             << "Chemin trop long";
    }
    void pathLimits()
    {
        QFETCH(QString, relative);
        QFETCH(QString, cause);
        if (::pathconf(QFile::encodeName(m_dir.path()).constData(), _PC_NAME_MAX) != 255)
            QSKIP("the temporary directory's file system does not allow 255-byte names");
        const Result<> limits = checkPathLimits(at(relative));
        const QString failure = limits.cause();
        QVERIFY2(cause.isEmpty() ? limits.ok() : !limits && failure.startsWith(cause),
                 qPrintable(failure));
        QVERIFY(!QFileInfo::exists(at("fresh")));
        if (cause.isEmpty()) // the answer holds: such a file can be made
            test::writeFile(at(relative));
    }
};

QTEST_GUILESS_MAIN(TestBatchPaths)
#include "tst_batchpaths.moc"
