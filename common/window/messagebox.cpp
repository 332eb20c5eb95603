#include "messagebox.h"

namespace quorrin {
namespace {

MessagePresenter &installedPresenter()
{
    static MessagePresenter presenter;
    return presenter;
}

QMessageBox::StandardButton execMessageBox(QWidget *parent, const Message &message)
{
    QMessageBox box(QMessageBox::NoIcon, message.title, message.text, message.buttons, parent);
    box.setDefaultButton(message.defaultButton);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return box.standardButton(box.clickedButton());
}

} // namespace

QMessageBox::StandardButton showMessage(QWidget *parent, const Message &message)
{
    if (const auto &presenter = installedPresenter())
        return presenter(parent, message);
    return execMessageBox(parent, message);
}

void setMessagePresenter(MessagePresenter presenter)
{
    installedPresenter() = std::move(presenter);
}

} // namespace quorrin
