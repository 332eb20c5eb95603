#pragma once

#include <QString>

class QWidget;

namespace quorrin::downloader {

// The Save As dialog behind the folder button. It remembers the last name the user
// confirmed and offers it the next time.
class SaveAsDialog {
public:
    virtual ~SaveAsDialog() = default;

    // Shows the dialog modally. A cancel keeps fileName() and is no failure; a failure
    // returns false with a description in `error`.
    virtual bool showSave(QWidget *parent, QString *error) = 0;

    // The last confirmed name, empty until the user has confirmed one.
    QString fileName() const { return m_fileName; }

protected:
    QString m_fileName;
};

// The dialog of Qt's own, so that its texts follow the program's language.
class QtSaveAsDialog final : public SaveAsDialog {
public:
    bool showSave(QWidget *parent, QString *error) override;
};

} // namespace quorrin::downloader
