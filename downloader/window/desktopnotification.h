#pragma once

#include <QString>

namespace quorrin::downloader {

// Shows `summary`, with `body` below it when there is one, as a notification of Quorrin's
// through the desktop's notification service (org.freedesktop.Notifications on the session
// bus). Sends and returns: no answer is awaited. Without a session bus or without a service,
// nothing happens.
void notifyDesktop(const QString &summary, const QString &body = {});

} // namespace quorrin::downloader
