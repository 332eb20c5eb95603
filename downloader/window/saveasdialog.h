#pragma once

#include "result.h"

#include <QString>

class QWidget;

namespace quorrin::downloader {

// The Save As dialog behind the folder button. It remembers the last name the user
// confirmed and offers it the next time.
class SaveAsDialog {
public:
    virtual ~SaveAsDialog() = default;

    // Shows the dialog modally. A cancel keeps fileName() and is no failure.
    virtual Result<> showSave(QWidget *parent) = 0;

    // The last confirmed name, empty until the user has confirmed one.
    QString fileName() const { return m_fileName; }

protected:
    QString m_fileName;
};

// The dialog of Qt's own, so that its texts follow the program's language.
class QtSaveAsDialog final : public SaveAsDialog {
public:
    Result<> showSave(QWidget *parent) override;
};

} // namespace quorrin::downloader
