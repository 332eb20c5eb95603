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
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer
import logging
logging.basicConfig(level=logging.CRITICAL)
# Optional: the first data connection is cut after this many bytes; REST commands are logged.
cut = int(sys.argv[2]) if len(sys.argv) > 2 else 0
log = sys.argv[3] if len(sys.argv) > 3 else None
state = {"sent": 0, "cut": False}
class CuttingDTP(DTPHandler):
    def send(self, data):
        if cut and not state["cut"]:
            room = cut - state["sent"]
            if room <= 0:
                state["cut"] = True
                self.close()
                return 0
            data = data[:room]
        sent = super().send(data)
        state["sent"] += sent
        return sent
class Handler(FTPHandler):
    dtp_handler = CuttingDTP
    use_sendfile = False # every byte goes through CuttingDTP.send
    def ftp_REST(self, line):
        if log:
            with open(log, "a") as file:
                file.write("REST " + line + "\n")
        return super().ftp_REST(line)
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[1])
Handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), Handler)
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

std::unique_ptr<ChildServer> startFtpServer(const QString &root, qint64 cutAfter,
                                            const QString &restLog)
{
    QStringList arguments{QStringLiteral("-c"), QString::fromLatin1(FtpScript), root};
    if (cutAfter > 0)
        arguments << QString::number(cutAfter) << restLog;
    return std::make_unique<ChildServer>(systemPython(), arguments, QStringLiteral("PORT"));
}

namespace {

// A key and a certificate for 127.0.0.1 that the certificate signs itself, made in `scratch`.
void makeCertificate(const QString &key, const QString &certificate)
{
    QProcess request;
    request.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), certificate});
    if (!request.waitForFinished(20000) || request.exitCode() != 0)
        throw std::runtime_error("openssl could not make a certificate");
}

const char RedirectingTlsScript[] = R"(
import http.server, ssl, sys
class Redirect(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(302)
        self.send_header("Location", sys.argv[3])
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *arguments):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Redirect)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
server.socket = context.wrap_socket(server.socket, server_side=True)
print("PORT", server.server_address[1], flush=True)
server.serve_forever()
)";

} // namespace

std::unique_ptr<ChildServer> startSelfSignedTlsServer(const QString &scratch)
{
    const QDir dir(scratch);
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const QString certificate = dir.filePath(QStringLiteral("certificate.pem"));
    makeCertificate(key, certificate);
    return std::make_unique<ChildServer>(
        QStringLiteral("openssl"),
        QStringList{QStringLiteral("s_server"), QStringLiteral("-accept"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("-cert"), certificate,
                    QStringLiteral("-key"), key, QStringLiteral("-www")},
        QStringLiteral("ACCEPT 127.0.0.1:"));
}

std::unique_ptr<ChildServer> startRedirectingTlsServer(const QString &scratch,
                                                       const QString &location)
{
    const QDir dir(scratch);
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    const QString certificate = dir.filePath(QStringLiteral("certificate.pem"));
    makeCertificate(key, certificate);
    return std::make_unique<ChildServer>(systemPython(),
                                         QStringList{QStringLiteral("-c"),
                                                     QString::fromLatin1(RedirectingTlsScript),
                                                     certificate, key, location},
                                         QStringLiteral("PORT"));
}

} // namespace quorrin::test
