#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

namespace quorrin {

struct Message {
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // The box takes the keyboard: it must also be seen, above every other window, topmost
    // ones included, even without a parent window to stay above.
    bool aboveAllWindows = false;
};

// Shows a modal message box without an icon and returns the button that closed it.
QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message);

// Something that shows a message as showMessage does; windows take one, so that tests can
// answer it.
using MessagePresenter = std::function<QMessageBox::StandardButton(QWidget *, const Message &)>;

} // namespace quorrin
