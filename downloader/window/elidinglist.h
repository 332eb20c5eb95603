#pragma once

#include <QListWidget>

namespace quorrin::downloader {

// A list box of one-line rows exactly as wide as the list: a text too long for its row is
// elided in the middle, the whole text is the row's accessible name and, while elided, its
// tooltip. The list never scrolls sideways.
class ElidingList : public QListWidget {
    Q_OBJECT
public:
    explicit ElidingList(QWidget *parent = nullptr);

    // Whether row `row` shows its text elided.
    bool isElided(int row) const;

protected:
    void changeEvent(QEvent *event) override;
};

} // namespace quorrin::downloader
