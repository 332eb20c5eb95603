#pragma once

#include <QProcess>
#include <QString>

namespace quorrin::bench {

// Debian's nginx as a foreground child process on 127.0.0.1, with its configuration, logs and
// temporary paths in `scratch`, serving the files under `root` with sendfile and keep-alive.
// Throws when it does not start; stopped when destroyed.
class NginxServer {
public:
    NginxServer(const QString &scratch, const QString &root);
    ~NginxServer();
    NginxServer(const NginxServer &) = delete;
    NginxServer &operator=(const NginxServer &) = delete;

    // "http://127.0.0.1:<port>/" followed by `path`.
    QString url(const QString &path) const;

private:
    bool start(const QString &scratch, const QString &root);

    QProcess m_process;
    int m_port = 0;
};

} // namespace quorrin::bench
