#include "alwaysontop.h"

#include <QWidget>
#include <QWindow>

namespace quorrin {

void SetAlwaysOnTop(QWidget *window, bool onTop)
{
    const Qt::WindowFlags flags = window->windowFlags().setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (flags == window->windowFlags())
        return;
    if (QWindow *native = window->windowHandle()) {
        // QWidget::setWindowFlags() would hide the window and let the window manager place
        // it anew; the native window can take the new state while it stays mapped.
        window->overrideWindowFlags(flags);
        native->setFlags(flags);
    } else {
        window->setWindowFlags(flags);
    }
}

} // namespace quorrin
