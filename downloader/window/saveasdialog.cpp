#include "saveasdialog.h"

#include "saveasstart.h"

#include <QFileDialog>

namespace quorrin::downloader {

// No question for an existing file: the run never replaces one, it picks a free name.
Result<QString> QtSaveAsDialog::showSave(QWidget *parent, const QString &path)
{
    const SaveAsStart start = saveAsStart(path);
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    if (!start.directory.isEmpty())
        dialog.setDirectory(start.directory);
    if (!start.name.isEmpty())
        dialog.selectFile(start.name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace quorrin::downloader
