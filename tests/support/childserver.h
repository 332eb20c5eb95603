#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace quorrin::test {

// A real server run as a child process on 127.0.0.1 at a port it picks itself and prints.
// Throws when it does not start; killed when destroyed.
class ChildServer {
public:
    // Runs `program` and reads the port from the first number after `portMarker` on its output.
    ChildServer(const QString &program, const QStringList &arguments, const QString &portMarker);
    ~ChildServer();
    ChildServer(const ChildServer &) = delete;
    ChildServer &operator=(const ChildServer &) = delete;

    int port() const { return m_port; }

private:
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
};

// An anonymous, read-only FTP server (Python's pyftpdlib) that serves `root`. With `cutAfter`,
// its first data connection closes after that many bytes, and each REST command it gets is
// appended to the file `restLog`.
std::unique_ptr<ChildServer> startFtpServer(const QString &root, qint64 cutAfter = 0,
                                            const QString &restLog = {});

// An HTTPS server (openssl s_server) with a certificate it signed itself, made in `scratch`.
std::unique_ptr<ChildServer> startSelfSignedTlsServer(const QString &scratch);

// An HTTPS server (Python's) that answers every request with a redirect to `location`; its
// certificate, for 127.0.0.1, is `scratch`/certificate.pem.
std::unique_ptr<ChildServer> startRedirectingTlsServer(const QString &scratch,
                                                       const QString &location);

} // namespace quorrin::test
