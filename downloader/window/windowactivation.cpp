#include "windowactivation.h"

#include "startupnotification.h"

#include <QGuiApplication>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <memory>

#if QT_CONFIG(xcb)
#include <xcb/xcb.h>
#endif

namespace quorrin::downloader {
#if QT_CONFIG(xcb)
namespace {

// What the EWMH calls a request from an application, as opposed to a pager.
constexpr std::uint32_t FromApplication = 1;
// The startup notification protocol carries its text twenty bytes a message.
constexpr int StartupChunkBytes = 20;

struct FreeReply {
    void operator()(void *reply) const { std::free(reply); }
};

xcb_atom_t atomNamed(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t rootOf(xcb_connection_t *connection, xcb_window_t window)
{
    const std::unique_ptr<xcb_query_tree_reply_t, FreeReply> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, window), nullptr));
    return tree ? tree->root : xcb_window_t(XCB_WINDOW_NONE);
}

// Ends the launch feedback of the start that carried `startupId`: the window it launched is
// this one, already there.
void endLaunchFeedback(xcb_connection_t *connection, xcb_window_t root, xcb_window_t window,
                       const QString &startupId)
{
    QByteArray message = startupRemoveMessage(startupId);
    message.append('\0');
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 8;
    event.window = window;
    event.type = atomNamed(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t following = atomNamed(connection, "_NET_STARTUP_INFO");
    for (qsizetype sent = 0; sent < message.size(); sent += StartupChunkBytes) {
        std::memset(event.data.data8, 0, sizeof event.data.data8);
        std::memcpy(event.data.data8, message.constData() + sent,
                    size_t(std::min<qsizetype>(StartupChunkBytes, message.size() - sent)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char *>(&event));
        event.type = following;
    }
}

// Asks the window manager to activate `window` on behalf of the start that carried
// `startupId`, at the time of the user's action that launched it: a manager that prevents
// focus stealing compares that time with the user's last action elsewhere.
void activateForStartup(xcb_connection_t *connection, xcb_window_t window, const QString &startupId)
{
    const xcb_window_t root = rootOf(connection, window);
    if (root == XCB_WINDOW_NONE)
        return;
    const QByteArray id = startupId.toUtf8();
    xcb_change_property(
        connection, XCB_PROP_MODE_REPLACE, window, atomNamed(connection, "_NET_STARTUP_ID"),
        atomNamed(connection, "UTF8_STRING"), 8, std::uint32_t(id.size()), id.constData());
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atomNamed(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = FromApplication;
    event.data.data32[1] = startupIdTime(startupId);
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    endLaunchFeedback(connection, root, window, startupId);
    xcb_flush(connection);
}

} // namespace
#endif

void bringForward(QWidget *window, const QString &startupId, const QString &activationToken)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
#if QT_CONFIG(xcb)
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 && !startupId.isEmpty()) {
        activateForStartup(x11->connection(), xcb_window_t(window->winId()), startupId);
        return;
    }
#endif
    // Qt's Wayland platform activates with the token it finds there, and removes it.
    if (QGuiApplication::platformName() == QLatin1String("wayland") && !activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    window->activateWindow();
}

} // namespace quorrin::downloader
