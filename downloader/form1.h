#pragma once

#include "filedownload.h"
#include "saveasdialog.h"

#include <QDate>
#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;

namespace quorrin {

class PictureButton;

// Quorrin's window: a pasted address becomes a queued entry with a proposed storage path;
// the buttons download the queue, choose a path and reset the window.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // What tests replace.
    struct Services {
        std::unique_ptr<SaveAsDialog> saveAs; // Qt's own dialog when empty
        std::function<QDate()> today;         // the local date when empty
    };

    explicit Form1(Services services = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Puts the address, the queue and the report back to their initial state.
    void ResetParameters();
    // Makes both arrays end at `index` and stores the two text boxes there.
    void StoreEntry(int index);

    // The queue as the window holds it: entry i is row i of the queue list while the list
    // does not show the placeholder.
    const QStringList &queuedPages() const { return arrPage; }
    const QStringList &queuedPaths() const { return arrPath; }
    int editedEntry() const { return curIndex; }
    bool ready() const { return isReady; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createControls();
    void placeControls();
    void describeControls();
    void connectControls();
    void Form_Load();
    void CheckForUpdate();

    bool queueIsEmpty() const;
    void setTextQuietly(QLineEdit *box, const QString &text);

    void txtPageChange();
    void pasteIntoPage(const QString &text);
    void queueAddresses(const QStringList &addresses);
    void txtPathChange();
    void listDlClick();
    void listDlDelete();
    void cmdOpenClick();
    void cmdEffaceClick();
    void chkAlwaysOnTopClick();

    void cmdDownLoadClick();
    void downloadEntry(int row);
    void chooseFreeName(const QString &entry);
    void transfer(const QString &entry);
    bool showProgress(qint64 received, qint64 total);
    void yieldToEvents();
    void addReportRow(const QString &text, const QString &toolTip = {});
    void showReportEnd();
    void reportError(const QString &entry, const QString &cause);

    QLineEdit *txtPage;
    QLineEdit *txtPath;
    PictureButton *cmdDownLoad;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *labMess;
    PictureButton *cmdOpen;
    QListWidget *ListDl;
    QListWidget *listErr;
    PictureButton *cmdEfface;
    QCheckBox *ChkAlwaysOnTop;
    QLabel *Label3;
    std::unique_ptr<SaveAsDialog> CommonDialog1;
    std::function<QDate()> m_today;

    QStringList arrPage;
    QStringList arrPath;
    int curIndex = 0;
    bool isReady = false;
    QPixmap m_background;
    QProgressBar *m_progress;
    FileDownloader m_downloader;
    QElapsedTimer m_sinceYield;
    bool m_running = false;
    bool m_reportEndShown = true;
    bool m_closing = false;
    int m_resets = 0; // a reset during a run's yields ends the run
};

} // namespace quorrin
