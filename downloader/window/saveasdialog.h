#pragma once

#include "result.h"

#include <QString>

class QWidget;

namespace quorrin::downloader {

// The Save As dialog behind the folder button.
class SaveAsDialog {
public:
    virtual ~SaveAsDialog() = default;

    // Shows the dialog modally, opened at `path`: its folder, its name. Gives the name the
    // user confirmed, or an empty one for a cancel, which is no failure.
    virtual Result<QString> showSave(QWidget *parent, const QString &path) = 0;
};

// The dialog of Qt's own, so that its texts follow the program's language.
class QtSaveAsDialog final : public SaveAsDialog {
public:
    Result<QString> showSave(QWidget *parent, const QString &path) override;
};

} // namespace quorrin::downloader
