#pragma once

#include <QString>
#include <QStringList>

namespace quorrin::bench {

// Moves this process into a mount namespace of its own, whose mounts the rest of the system
// never sees and which goes when the process and its children end; every process it starts
// afterwards shares it. Only root may; call it before any thread starts. False when it could
// not (not root, or the system refuses).
bool enterPrivateMounts();

// A mount in the namespace of enterPrivateMounts(), undone when destroyed.
class PrivateMount {
public:
    struct Tmpfs {};
    // A new, empty tmpfs at `directory`.
    PrivateMount(Tmpfs, const QString &directory);
    // The file `source` shown at the path of the file `target`.
    PrivateMount(const QString &source, const QString &target);
    ~PrivateMount();
    PrivateMount(const PrivateMount &) = delete;
    PrivateMount &operator=(const PrivateMount &) = delete;

    bool isMounted() const { return m_mounted; }
    // Why the mount failed.
    QString error() const { return m_error; }

private:
    QString m_target;
    bool m_mounted = false;
    QString m_error;
};

// For a process that is not root: the words put before a command so that it runs in a user
// and mount namespace of its own where the file `source` is shown at the path `target`.
QStringList commandWithFileShown(const QString &source, const QString &target);

} // namespace quorrin::bench
