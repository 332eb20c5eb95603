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
};

// Shows a modal message box without an icon and returns the button that closed it.
QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message);

// Replaces the message box, for tests; an empty function restores the real one.
using MessagePresenter = std::function<QMessageBox::StandardButton(QWidget *, const Message &)>;
void setMessagePresenter(MessagePresenter presenter);

} // namespace quorrin
