#include "testauthority.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cstdio>

namespace quorrin::bench {
namespace {

bool runOpenssl(const QString &directory, const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(directory);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    const bool ok = openssl.waitForFinished(60000) &&
                    openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "openssl %s failed: %s\n", qPrintable(arguments.join(u' ')),
                     openssl.readAll().constData());
    return ok;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace

std::optional<TestAuthority> makeTestAuthority(const QString &directory,
                                               const QString &systemBundle)
{
    const QDir here(directory);
    const QStringList curve{
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    const QStringList authority =
        QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-new")} +
        curve +
        QStringList{
            QStringLiteral("-keyout"), QStringLiteral("authority.key"),
            QStringLiteral("-out"),    QStringLiteral("authority.crt"),
            QStringLiteral("-days"),   QStringLiteral("2"),
            QStringLiteral("-subj"),   QStringLiteral("/CN=Quorrin benchmark authority"),
            QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
            QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")};
    const QStringList request =
        QStringList{QStringLiteral("req"), QStringLiteral("-new")} + curve +
        QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                    QStringLiteral("-out"),    QStringLiteral("server.csr"),
                    QStringLiteral("-subj"),   QStringLiteral("/CN=127.0.0.1")};
    const QStringList signing{QStringLiteral("x509"),
                              QStringLiteral("-req"),
                              QStringLiteral("-in"),
                              QStringLiteral("server.csr"),
                              QStringLiteral("-CA"),
                              QStringLiteral("authority.crt"),
                              QStringLiteral("-CAkey"),
                              QStringLiteral("authority.key"),
                              QStringLiteral("-CAcreateserial"),
                              QStringLiteral("-days"),
                              QStringLiteral("2"),
                              QStringLiteral("-extfile"),
                              QStringLiteral("server.ext"),
                              QStringLiteral("-out"),
                              QStringLiteral("server.crt")};
    // Clients check the address against the certificate's names, not its common name.
    const QByteArray serverExtensions = "subjectAltName=IP:127.0.0.1\n"
                                        "basicConstraints=critical,CA:FALSE\n"
                                        "keyUsage=critical,digitalSignature\n"
                                        "extendedKeyUsage=serverAuth\n";
    QFile system(systemBundle);
    QFile made(here.filePath(QStringLiteral("authority.crt")));
    if (!here.mkpath(QStringLiteral(".")) || !runOpenssl(directory, authority) ||
        !runOpenssl(directory, request) ||
        !writeFile(here.filePath(QStringLiteral("server.ext")), serverExtensions) ||
        !runOpenssl(directory, signing) || !system.open(QIODevice::ReadOnly) ||
        !made.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bundle = system.readAll();
    if (!bundle.isEmpty() && !bundle.endsWith('\n'))
        bundle += '\n';
    TestAuthority result{here.filePath(QStringLiteral("server.crt")),
                         here.filePath(QStringLiteral("server.key")),
                         here.filePath(QStringLiteral("bundle.crt"))};
    if (!writeFile(result.bundle, bundle + made.readAll()))
        return std::nullopt;
    return result;
}

} // namespace quorrin::bench
