#include "desktopnotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace quorrin::downloader {

void notifyDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quorrin")}};
    // Application, no notification replaced, icon, summary, body, no actions, hints, the
    // server's own display time.
    call << QStringLiteral("Quorrin") << 0u << QStringLiteral("quorrin") << summary << body
         << QStringList() << hints << -1;
    bus.send(call);
}

} // namespace quorrin::downloader
