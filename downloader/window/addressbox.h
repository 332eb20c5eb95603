#pragma once

#include <QLineEdit>

namespace quorrin::downloader {

// The address box. A click that brings the focus into it selects the whole address, as a
// browser's address bar does, and so does the first click after the window itself selected
// the address: a paste then replaces the address instead of landing in it. A second click
// places the cursor, and a drag still selects what it covers.
class AddressBox : public QLineEdit {
    Q_OBJECT
public:
    using QLineEdit::QLineEdit;

    // Selects the whole address, for the next paste to replace; the next click keeps it so.
    void selectWhole();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_selectOnRelease = false; // the focus came with the click now under way
};

} // namespace quorrin::downloader
