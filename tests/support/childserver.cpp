#include "childserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <stdexcept>

namespace quorrin::test {
namespace {

const char FtpScript[] = R"(
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
import logging
logging.basicConfig(level=logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[1])
FTPHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print("PORT", server.address[1], flush=True)
server.serve_forever()
)";

// Debian's pyftpdlib belongs to the system interpreter, which a user's PATH may hide.
QString systemPython()
{
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo(system).isExecutable() ? system : QStringLiteral("python3");
}

} // namespace

ChildServer::ChildServer(const QString &program, const QStringList &arguments,
                         const QString &portMarker)
    : m_process(std::make_unique<QProcess>())
{
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, arguments);
    const QRegularExpression pattern(QRegularExpression::escape(portMarker) +
                                     QStringLiteral("\\D*(\\d+)"));
    QByteArray output;
    const QDeadlineTimer deadline(20000);
    while (m_port == 0 && !deadline.hasExpired() &&
           m_process->waitForReadyRead(int(deadline.remainingTime()))) {
        output += m_process->readAll();
        const auto match = pattern.match(QString::fromUtf8(output));
        if (match.hasMatch())
            m_port = match.captured(1).toInt();
    }
    if (m_port == 0)
        throw std::runtime_error(program.toStdString() + " did not start: " + output.toStdString());
}

ChildServer::~ChildServer()
{
    m_process->kill();
    m_process->waitForFinished(5000);
}

std::unique_ptr<ChildServer> startFtpServer(const QString &root)
{
    return std::make_unique<ChildServer>(
        systemPython(), QStringList{QStringLiteral("-c"), QString::fromLatin1(FtpScript), root},
        QStringLiteral("PORT"));
}

std::unique_ptr<ChildServer> startSelfSignedTlsServer(const QString &scratch)
{
    const QDir dir(scratch);
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const QString certificate = dir.filePath(QStringLiteral("certificate.pem"));
    QProcess request;
    request.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), certificate});
    if (!request.waitForFinished(20000) || request.exitCode() != 0)
        throw std::runtime_error("openssl could not make a certificate");
    return std::make_unique<ChildServer>(
        QStringLiteral("openssl"),
        QStringList{QStringLiteral("s_server"), QStringLiteral("-accept"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("-cert"), certificate,
                    QStringLiteral("-key"), key, QStringLiteral("-www")},
        QStringLiteral("ACCEPT 127.0.0.1:"));
}

} // namespace quorrin::test
