#include "saveasdialog.h"

#include <QFileDialog>

namespace quorrin::downloader {

// No question for an existing file: the run never replaces one, it picks a free name.
Result<> QtSaveAsDialog::showSave(QWidget *parent)
{
    const QString chosen = QFileDialog::getSaveFileName(
        parent, QString(), m_fileName, QString(), nullptr,
        QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    if (!chosen.isEmpty())
        m_fileName = chosen;
    return {};
}

} // namespace quorrin::downloader
