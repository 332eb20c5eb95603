#include "inputhold.h"

#include <QCoreApplication>
#include <QEvent>

namespace quorrin {

InputHold::InputHold()
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputHold::~InputHold()
{
    QCoreApplication::instance()->removeEventFilter(this);
    for (auto &[window, event] : m_held) {
        if (window)
            QCoreApplication::sendEvent(window, event.get());
    }
}

bool InputHold::eventFilter(QObject *watched, QEvent *event)
{
    // Input reaches a window first, which passes it on to its widgets; holding it there keeps
    // the window's own bookkeeping (mouse grabs, focus) intact when it is handed over.
    if (!watched->isWindowType() || !event->isInputEvent())
        return false;
    m_held.emplace_back(watched, event->clone());
    return true;
}

} // namespace quorrin
