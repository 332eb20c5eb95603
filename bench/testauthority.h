#pragma once

#include <QString>

#include <optional>

namespace quorrin::bench {

// A certificate authority made for one run of the benchmark, a server certificate it signed
// for 127.0.0.1, and a bundle of the system's authorities with this one added. The bundle is
// for the benchmark's own processes to see at the system's path (see privatemounts.h);
// nothing is installed on the machine.
struct TestAuthority {
    QString certificate; // the server's, PEM
    QString key;         // the server's private key, PEM
    QString bundle;      // the system's authorities and this one, PEM
};

// Made with openssl in `directory`, the bundle from the system's at `systemBundle`; nothing,
// with openssl's words on stderr, when a step fails.
std::optional<TestAuthority> makeTestAuthority(const QString &directory,
                                               const QString &systemBundle);

} // namespace quorrin::bench
