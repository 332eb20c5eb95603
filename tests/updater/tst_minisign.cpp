// Signatures made by the real minisign tool, with keys made for this run.
#include "installercheck.h"
#include "minisign.h"
#include "testfiles.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#ifndef MINISIGN_PROGRAM
#error "MINISIGN_PROGRAM names the minisign tool"
#endif

using namespace quorrin;
using namespace quorrin::updater;

namespace {

// Runs minisign to its end; a failure fails the test.
void minisign(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(MINISIGN_PROGRAM), arguments);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

// The signature file with line `index` (0 to 3) replaced.
QByteArray withLine(const QByteArray &signature, int index, const QByteArray &line)
{
    QList<QByteArray> lines = signature.split('\n');
    lines[index] = line;
    return lines.join('\n');
}

// The signature file with the two algorithm bytes of its signature line replaced.
QByteArray withAlgorithm(const QByteArray &signature, const QByteArray &algorithm)
{
    QByteArray bytes = QByteArray::fromBase64(signature.split('\n').at(1));
    bytes.replace(0, 2, algorithm);
    return withLine(signature, 1, bytes.toBase64());
}

} // namespace

class TestMinisign : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QByteArray m_key;      // the base64 line of the key that signs
    QByteArray m_otherKey; // another key's

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QByteArray publicKeyLine(const QString &file) const
    {
        return test::contentOf(path(file)).split('\n').value(1);
    }
    // Signs file `name` with key `key` ("a" or "b"); `extra` chooses the algorithm or comment.
    QByteArray sign(const QString &name, const QString &signatureName, const QString &key,
                    const QStringList &extra = {})
    {
        minisign(QStringList{QStringLiteral("-S"), QStringLiteral("-m"), path(name),
                             QStringLiteral("-x"), path(signatureName), QStringLiteral("-s"),
                             path(key + QStringLiteral(".key"))} +
                 extra);
        return test::contentOf(path(signatureName));
    }

private Q_SLOTS:
    void initTestCase();
    void verify_data();
    void verify();
    void earlierInstallerVerifiedAgain();
};

void TestMinisign::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const QString &key : {QStringLiteral("a"), QStringLiteral("b")})
        minisign({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                  path(key + QStringLiteral(".pub")), QStringLiteral("-s"),
                  path(key + QStringLiteral(".key"))});
    m_key = publicKeyLine(QStringLiteral("a.pub"));
    m_otherKey = publicKeyLine(QStringLiteral("b.pub"));
    QCOMPARE(m_key.size(), 56);

    // Larger than one read, so the hash has to take in every piece.
    QByteArray data(3 * 1024 * 1024 / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char((i * 7) % 251);
    test::writeFile(path(QStringLiteral("installer")), data);
    data[data.size() - 1] = char(data.at(data.size() - 1) ^ 1);
    test::writeFile(path(QStringLiteral("changed")), data);
    test::writeFile(path(QStringLiteral("empty")));
}

void TestMinisign::verify_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("ok");

    const QString installer = path(QStringLiteral("installer"));
    const QString changed = path(QStringLiteral("changed"));
    const QString a = QStringLiteral("a");
    const QByteArray hashed = sign(QStringLiteral("installer"), QStringLiteral("hashed"), a,
                                   {QStringLiteral("-t"), QStringLiteral("révision 4")});
    const QByteArray legacy =
        sign(QStringLiteral("installer"), QStringLiteral("legacy"), a, {QStringLiteral("-l")});
    const QByteArray foreign =
        sign(QStringLiteral("installer"), QStringLiteral("foreign"), QStringLiteral("b"));
    const QByteArray empty = sign(QStringLiteral("empty"), QStringLiteral("empty.minisig"), a);
    QVERIFY(hashed.split('\n').value(1).startsWith("RU")); // "ED"
    QVERIFY(legacy.split('\n').value(1).startsWith("RW")); // "Ed"

    QTest::newRow("ED") << m_key << hashed << installer << true;
    QTest::newRow("Ed, legacy") << m_key << legacy << installer << true;
    QByteArray crlf = hashed;
    QTest::newRow("CR LF line ends") << m_key << crlf.replace("\n", "\r\n") << installer << true;
    QTest::newRow("empty file") << m_key << empty << path(QStringLiteral("empty")) << true;

    QTest::newRow("ED, last byte changed") << m_key << hashed << changed << false;
    QTest::newRow("Ed, last byte changed") << m_key << legacy << changed << false;
    QTest::newRow("another file's signature") << m_key << empty << installer << false;
    QTest::newRow("signed by another key") << m_key << foreign << installer << false;
    QTest::newRow("checked with another key") << m_otherKey << hashed << installer << false;
    QTest::newRow("trusted comment changed")
        << m_key << withLine(hashed, 2, "trusted comment: révision 5") << installer << false;
    // The global signature of another signature of the same file, with its comment.
    QTest::newRow("trusted comment and global signature of another signature")
        << m_key
        << withLine(withLine(hashed, 2, legacy.split('\n').at(2)), 3, legacy.split('\n').at(3))
        << installer << false;
    // The global signature covers the signature bytes only, not the algorithm.
    QTest::newRow("ED relabelled Ed") << m_key << withAlgorithm(hashed, "Ed") << installer << false;
    QTest::newRow("unknown algorithm")
        << m_key << withAlgorithm(hashed, "EE") << installer << false;
    QTest::newRow("cut after the signature line")
        << m_key << hashed.left(hashed.indexOf("trusted comment:")) << installer << false;
    QTest::newRow("cut inside the global signature")
        << m_key << hashed.chopped(10) << installer << false;
    QTest::newRow("no untrusted comment")
        << m_key << hashed.mid(hashed.indexOf('\n') + 1) << installer << false;
    QTest::newRow("signature line not base64")
        << m_key << withLine(hashed, 1, "RU*" + hashed.split('\n').at(1).mid(3)) << installer
        << false;
    QTest::newRow("a fifth line") << m_key << hashed + "more\n" << installer << false;
    QTest::newRow("empty signature file") << m_key << QByteArray() << installer << false;
    QTest::newRow("key not base64")
        << QByteArray("RW" + QByteArray(54, '*')) << hashed << installer << false;
    QTest::newRow("missing file") << m_key << hashed << path(QStringLiteral("none")) << false;
}

void TestMinisign::verify()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, signature);
    QFETCH(QString, file);
    QFETCH(bool, ok);
    QCOMPARE(verifyMinisign(key, signature, file), ok);
}

// An installer kept from an earlier day stays only while it verifies.
void TestMinisign::earlierInstallerVerifiedAgain()
{
    const QString setup = path(QStringLiteral("setup_quorrin4.exe"));
    QVERIFY(QFile::copy(path(QStringLiteral("installer")), setup));
    const QByteArray signature =
        sign(QStringLiteral("installer"), QStringLiteral("kept.minisig"), QStringLiteral("a"));
    QVERIFY(keepVerifiedInstaller(m_key, signature, setup));
    QVERIFY(QFile::exists(setup));
    QVERIFY(!keepVerifiedInstaller(m_key, QByteArray(), setup)); // no signature published now
    QVERIFY(!QFileInfo::exists(setup));

    // A link there is removed, never what it points to.
    QVERIFY(QFile::link(path(QStringLiteral("changed")), setup));
    QVERIFY(!keepVerifiedInstaller(m_key, signature, setup));
    QVERIFY(!QFileInfo(setup).isSymLink());
    QVERIFY(QFileInfo::exists(path(QStringLiteral("changed"))));
}

QTEST_GUILESS_MAIN(TestMinisign)
#include "tst_minisign.moc"
