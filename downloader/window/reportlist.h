#pragma once

#include <QListView>

namespace quorrin::downloader {

// The run's report as a list of one-line rows exactly as wide as the list, a text too long
// for its row elided in the middle and whole in its accessible name and, while elided, its
// tooltip. Its rows come from a model: a long run's report keeps no object per row.
class ReportList : public QListView {
    Q_OBJECT
public:
    explicit ReportList(QWidget *parent = nullptr);

    // Whether row `row` shows its text elided.
    bool isElided(int row) const;

protected:
    void changeEvent(QEvent *event) override;
};

} // namespace quorrin::downloader
