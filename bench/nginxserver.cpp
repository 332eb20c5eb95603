#include "nginxserver.h"

#include "loopbackrelay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin::bench {
namespace {

// Workers of a root master run as nobody; other users' masters keep their own user.
const char Configuration[] = R"(daemon off;
master_process on;
worker_processes 1;
%USER%
pid %SCRATCH%/nginx.pid;
error_log %SCRATCH%/error.log warn;
events { worker_connections 1024; }
http {
    log_format requests '$connection $server_protocol $status';
    %ACCESS_LOG%
    client_body_temp_path %SCRATCH%/temp/body;
    proxy_temp_path %SCRATCH%/temp/proxy;
    fastcgi_temp_path %SCRATCH%/temp/fastcgi;
    uwsgi_temp_path %SCRATCH%/temp/uwsgi;
    scgi_temp_path %SCRATCH%/temp/scgi;
    sendfile on;
    tcp_nopush on;
    keepalive_timeout 65;
    keepalive_requests 100000;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:%PORT%%LISTEN_OPTIONS%;
        root %ROOT%;
        %SERVER_OPTIONS%
    }
}
)";

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopbackAddress(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

NginxServer::NginxServer(const QString &scratch, const QString &root, const NginxOptions &options)
    : m_options(options)
    , m_log(QDir(scratch).filePath(QStringLiteral("access.log")))
{
    // The port is probed free before nginx binds it; another program may take it meanwhile.
    for (int attempt = 0; attempt < 3; ++attempt)
        if (start(scratch, root))
            return;
    throw std::runtime_error("nginx did not start; see error.log in " + scratch.toStdString());
}

NginxServer::~NginxServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

QString NginxServer::url(const QString &path) const
{
    return QStringLiteral("%1://127.0.0.1:%2/%3")
        .arg(QLatin1String(m_options.certificate.isEmpty() ? "http" : "https"))
        .arg(m_port)
        .arg(path);
}

qint64 NginxServer::logMark() const
{
    return QFileInfo(m_log).size();
}

// nginx writes each line as its request ends, before the client sees the last byte.
ServedRequests NginxServer::requestsSince(qint64 mark) const
{
    ServedRequests served;
    QFile file(m_log);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(mark))
        return served;
    QSet<QByteArray> connections;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 3)
            continue;
        ++served.requests;
        connections.insert(fields[0]);
        ++served.protocols[QString::fromLatin1(fields[1])];
    }
    served.connections = int(connections.size());
    return served;
}

bool NginxServer::start(const QString &scratch, const QString &root)
{
    m_port = freeLoopbackPort();
    QDir(scratch).mkpath(QStringLiteral("temp"));
    QString text = QString::fromLatin1(Configuration);
    text.replace(QStringLiteral("%USER%"),
                 ::geteuid() == 0 ? QStringLiteral("user nobody nogroup;") : QString());
    text.replace(QStringLiteral("%SCRATCH%"), scratch);
    text.replace(QStringLiteral("%ROOT%"), root);
    text.replace(QStringLiteral("%PORT%"), QString::number(m_port));
    text.replace(QStringLiteral("%ACCESS_LOG%"),
                 m_options.logRequests ? QStringLiteral("access_log %1 requests;").arg(m_log)
                                       : QStringLiteral("access_log off;"));
    const bool secure = !m_options.certificate.isEmpty();
    text.replace(QStringLiteral("%LISTEN_OPTIONS%"),
                 secure ? QStringLiteral(" ssl http2") : QString());
    QStringList serverOptions;
    if (secure)
        serverOptions << QStringLiteral("ssl_certificate %1;").arg(m_options.certificate)
                      << QStringLiteral("ssl_certificate_key %1;").arg(m_options.key);
    if (!m_options.limitRate.isEmpty())
        serverOptions << QStringLiteral("limit_rate %1;").arg(m_options.limitRate);
    text.replace(QStringLiteral("%SERVER_OPTIONS%"),
                 serverOptions.join(QLatin1String("\n        ")));
    const QString configuration = QDir(scratch).filePath(QStringLiteral("nginx.conf"));
    QFile file(configuration);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return false;
    file.close();

    m_process.start(QStringLiteral("nginx"),
                    {QStringLiteral("-p"), scratch, QStringLiteral("-c"), configuration,
                     QStringLiteral("-e"), QDir(scratch).filePath(QStringLiteral("error.log"))});
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        if (accepts(m_port))
            return true;
        QThread::msleep(20);
    }
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}

} // namespace quorrin::bench
