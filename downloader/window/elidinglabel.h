#pragma once

#include <QLabel>

namespace quorrin::downloader {

// A one-line label that shows a text too long for its width elided in the middle, and the
// whole text as its tooltip while it is elided. text() and the accessible name stay whole.
class ElidingLabel : public QLabel {
    Q_OBJECT
public:
    // Its text is plain: a file name that looks like markup shows as it is.
    explicit ElidingLabel(const QString &text, QWidget *parent = nullptr);

    // The text as the label shows it.
    QString shownText() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

} // namespace quorrin::downloader
