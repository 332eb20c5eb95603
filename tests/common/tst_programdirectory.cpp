#include "programdirectory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace quorrin;

namespace {

bool writable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// Makes `path` read-only for this process. Permission bits stop an ordinary user; root
// ignores them, so for root the directory keeps its bits and is bound read-only onto
// itself, as a system-wide install on a read-only /usr. `mounted` tells the caller to
// unmount it. False when neither works.
bool lockDirectory(const QString &path, bool &mounted)
{
    mounted = false;
    const QFile::Permissions open = QFile::permissions(path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    if (!writable(path))
        return true;
    QFile::setPermissions(path, open);
    mounted = QProcess::execute(QStringLiteral("mount"),
                                {QStringLiteral("-o"), QStringLiteral("bind,ro"), path, path}) == 0;
    return mounted && !writable(path);
}

QStringList entriesOf(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                QDir::NoDotAndDotDot);
}

} // namespace

class TestProgramDirectory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void dataDirectory_data();
    void dataDirectory();

private:
    QByteArray m_savedDataHome;
    bool m_hadDataHome = false;
};

void TestProgramDirectory::initTestCase()
{
    m_hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_savedDataHome = qgetenv("XDG_DATA_HOME");
}

void TestProgramDirectory::cleanup()
{
    if (m_hadDataHome)
        qputenv("XDG_DATA_HOME", m_savedDataHome);
    else
        qunsetenv("XDG_DATA_HOME");
}

void TestProgramDirectory::dataDirectory_data()
{
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("dataHome"); // under the scratch directory
    QTest::addColumn<bool>("userDirectoryExists");

    QTest::newRow("writable program directory is used as is") << false << "data" << false;
    QTest::newRow("writable, even with a user directory") << false << "data" << true;
    QTest::newRow("read-only: user directory made") << true << "data" << false;
    QTest::newRow("read-only: data home and parents made") << true << "not/yet/there" << false;
    QTest::newRow("read-only: user directory kept") << true << "data" << true;
}

void TestProgramDirectory::dataDirectory()
{
    QFETCH(bool, readOnly);
    QFETCH(QString, dataHome);
    QFETCH(bool, userDirectoryExists);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString program = scratch.filePath(QStringLiteral("program"));
    const QString home = scratch.filePath(dataHome);
    const QString user = QDir(home).filePath(QStringLiteral("Quorrin"));
    const QString keptFile = QDir(user).filePath(QStringLiteral("LastDateCheckUpdate.txt"));
    QVERIFY(QDir().mkpath(program));
    if (userDirectoryExists) {
        QVERIFY(QDir().mkpath(user));
        QFile file(keptFile);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("12/07/2026\n") > 0);
    }

    bool mounted = false;
    const auto unlock = qScopeGuard([&] {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {program});
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (readOnly && !lockDirectory(program, mounted))
        QSKIP("this user may write into a read-only directory and cannot mount one");

    qputenv("XDG_DATA_HOME", QFile::encodeName(home));
    const QString chosen = quorrin::dataDirectory(program);

    QCOMPARE(chosen, readOnly ? user : program);
    QCOMPARE(QFileInfo(user).isDir(), readOnly || userDirectoryExists);
    QVERIFY(writable(chosen));
    QCOMPARE(entriesOf(program), QStringList());
    if (userDirectoryExists)
        QVERIFY(QFile::exists(keptFile));
    // Asking again gives the same answer and breaks nothing.
    QCOMPARE(quorrin::dataDirectory(program), chosen);
}

QTEST_GUILESS_MAIN(TestProgramDirectory)
#include "tst_programdirectory.moc"
