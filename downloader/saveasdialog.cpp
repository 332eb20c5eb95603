#include "saveasdialog.h"

#include <QFileDialog>

namespace quorrin {

bool QtSaveAsDialog::showSave(QWidget *parent, QString * /*error*/)
{
    const QString chosen = QFileDialog::getSaveFileName(parent, QString(), m_fileName, QString(),
                                                        nullptr, QFileDialog::DontUseNativeDialog);
    if (!chosen.isEmpty())
        m_fileName = chosen;
    return true;
}

} // namespace quorrin
