#include "addressbox.h"

#include <QFocusEvent>
#include <QMouseEvent>

#include <utility>

namespace quorrin::downloader {

void AddressBox::selectWhole()
{
    selectAll();
    m_selectOnRelease = true;
}

// A click into an inactive window brings the focus with the window's activation, before the
// press, or after it (even after the release) depending on the window manager; all count as
// the click's.
void AddressBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (event->reason() == Qt::MouseFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        m_selectOnRelease = true;
}

void AddressBox::focusOutEvent(QFocusEvent *event)
{
    m_selectOnRelease = false;
    QLineEdit::focusOutEvent(event);
}

void AddressBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !hasFocus())
        m_selectOnRelease = true;
    QLineEdit::mousePressEvent(event);
}

void AddressBox::keyPressEvent(QKeyEvent *event)
{
    m_selectOnRelease = false;
    QLineEdit::keyPressEvent(event);
}

// After the box's own handling, which drops a selection clicked into.
void AddressBox::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && std::exchange(m_selectOnRelease, false) &&
        !hasSelectedText())
        selectAll();
}

} // namespace quorrin::downloader
