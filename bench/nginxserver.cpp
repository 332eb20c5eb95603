#include "nginxserver.h"

#include "loopbackrelay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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
    access_log off;
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
        listen 127.0.0.1:%PORT%;
        root %ROOT%;
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

NginxServer::NginxServer(const QString &scratch, const QString &root)
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
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_port).arg(path);
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
