#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QStringList>

#include <vector>

namespace quorrin::downloader {

// The run's report, as the report list shows it: for each entry in turn the row that begins
// it, a row for each step that failed, the row that ends it; and the odd notice. A queue may
// hold tens of thousands of entries: each row is a small record that makes its text when it
// is shown, and rows added come into view together, at the window's pace.
//
// A row that reports an error shows the desktop's warning icon and carries its cause as its
// tooltip and accessible description, so that a failure stands out among the other rows and a
// screen reader can read why.
class RunReport : public QAbstractListModel {
    Q_OBJECT
public:
    // Marks the rows that report an error.
    static constexpr int ErrorRole = Qt::UserRole;

    explicit RunReport(QObject *parent = nullptr);

    // Empties the report for a run of entries whose queue rows read `names`.
    void start(QStringList names);
    // Entries added at the end of the run.
    void addNames(const QStringList &names);
    void clear();

    // Rows added at the end, shown at the next show().
    void begins(int entry);
    void failed(int entry, const QString &cause);
    void ends(int entry);
    void notice(const QString &text);
    // Brings the rows added since the last time into view; false when there were none.
    bool show();

    // The text of the row that begins an entry, which the window's caption shows too.
    static QString beginsText(const QString &name);

    // How many entries failed: each entry's error rows follow one another between its first
    // and last rows, so each unbroken run of error rows is one failed entry.
    int failedEntries() const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    enum class Kind : quint8 { Begins, Failed, Ends, Notice };
    struct Row {
        qint32 entry;
        qint32 text; // the cause or the notice, in m_texts; -1 for none
        Kind kind;
    };
    void add(Kind kind, int entry, const QString &text = {});

    QStringList m_names;
    QStringList m_texts;
    std::vector<Row> m_rows;
    int m_shown = 0;
    QIcon m_warning;
};

} // namespace quorrin::downloader
