#include "messagebox.h"

#include <QTimer>

namespace quorrin {

QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message)
{
    QMessageBox box(QMessageBox::NoIcon, message.title, message.text, message.buttons, parent);
    box.setDefaultButton(message.defaultButton);
    box.setTextFormat(Qt::PlainText);
    if (message.aboveAllWindows) {
        box.setWindowFlag(Qt::WindowStaysOnTopHint);
        // Once shown: a window manager may map a new window without raising or focusing it.
        QTimer::singleShot(0, &box, [&box] {
            box.raise();
            box.activateWindow();
        });
    }
    box.exec();
    return box.standardButton(box.clickedButton());
}

} // namespace quorrin
