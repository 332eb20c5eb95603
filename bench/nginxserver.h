#pragma once

#include <QMap>
#include <QProcess>
#include <QString>

namespace quorrin::bench {

// How an NginxServer serves.
struct NginxOptions {
    // The most each connection receives a second, in nginx's words ("8m" is 8 MiB/s); empty
    // for no limit.
    QString limitRate;
    // A certificate chain and its key (PEM files): HTTPS with HTTP/2 instead of plain HTTP.
    QString certificate;
    QString key;
    // Logs each request with its connection and protocol (see requestsSince()).
    bool logRequests = false;
};

// The requests a server answered over some time.
struct ServedRequests {
    int requests = 0;
    int connections = 0;          // distinct connections they came over
    QMap<QString, int> protocols; // requests by protocol, such as "HTTP/1.1" or "HTTP/2.0"
};

// Debian's nginx as a foreground child process on 127.0.0.1, with its configuration, logs and
// temporary paths in `scratch`, serving the files under `root` with sendfile and keep-alive.
// Throws when it does not start; stopped when destroyed.
class NginxServer {
public:
    NginxServer(const QString &scratch, const QString &root, const NginxOptions &options = {});
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // "http://127.0.0.1:<port>/" (https with a certificate) followed by `path`.
    QString url(const QString &path) const;

    // With logRequests: where the log stands now, and what was requested after a mark.
    qint64 logMark() const;
    ServedRequests requestsSince(qint64 mark) const;

private:
    bool start(const QString &scratch, const QString &root);

    NginxOptions m_options;
    QString m_log;
    QProcess m_process;
    int m_port = 0;
};

} // namespace quorrin::bench
