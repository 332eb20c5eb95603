#pragma once

#include <QString>

class QWidget;

namespace quorrin::downloader {

// Brings `window` to the front as far as the desktop allows: shown, no longer minimized,
// raised and made the active window. The desktop decides: a start it launched carries a
// startup id (X11) or an activation token (Wayland) that lets the window take the focus from
// the one the user is in; without either, the desktop may only mark the window as asking for
// attention.
void bringForward(QWidget *window, const QString &startupId, const QString &activationToken);

} // namespace quorrin::downloader
