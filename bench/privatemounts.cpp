#include "privatemounts.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quorrin::bench {

bool enterPrivateMounts()
{
    // The new namespace starts as a copy of the system's, whose mounts are shared by default:
    // made private, nothing mounted here reaches the system's.
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

PrivateMount::PrivateMount(Tmpfs, const QString &directory)
    : m_target(directory)
{
    m_mounted = ::mount("tmpfs", QFile::encodeName(directory).constData(), "tmpfs",
                        MS_NOSUID | MS_NODEV, "mode=0700") == 0;
    if (!m_mounted)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

PrivateMount::PrivateMount(const QString &source, const QString &target)
    : m_target(target)
{
    m_mounted = ::mount(QFile::encodeName(source).constData(),
                        QFile::encodeName(target).constData(), nullptr, MS_BIND, nullptr) == 0;
    if (!m_mounted)
        m_error = QString::fromLocal8Bit(std::strerror(errno));
}

PrivateMount::~PrivateMount()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_target).constData(), MNT_DETACH);
}

QStringList commandWithFileShown(const QString &source, const QString &target)
{
    // unshare maps the user to root of the new user namespace, who may mount in it.
    return {QStringLiteral("unshare"),
            QStringLiteral("--map-root-user"),
            QStringLiteral("--mount"),
            QStringLiteral("sh"),
            QStringLiteral("-c"),
            QStringLiteral("mount --bind \"$0\" \"$1\" && shift && exec \"$@\""),
            source,
            target};
}

} // namespace quorrin::bench
