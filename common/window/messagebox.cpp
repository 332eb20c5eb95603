#include "messagebox.h"

namespace quorrin {

QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message)
{
    QMessageBox box(QMessageBox::NoIcon, message.title, message.text, message.buttons, parent);
    box.setDefaultButton(message.defaultButton);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return box.standardButton(box.clickedButton());
}

} // namespace quorrin
