#pragma once

#include "addressbox.h"
#include "batchrun.h"
#include "downloadqueue.h"
#include "filedownload.h"
#include "handovermessage.h"
#include "messagebox.h"
#include "runrecorder.h"
#include "saveasdialog.h"
#include "shellopen.h"

#include <QDate>
#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QTimer;

namespace quorrin::downloader {

class PictureButton;
class ReportList;
class RunReport;

// Quorrin's window: a pasted address becomes a queued entry with a proposed storage path;
// the buttons download the queue, choose a path and reset the window.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // What the window asks of the world outside it; each one left empty is the real one.
    struct Services {
        std::unique_ptr<SaveAsDialog> saveAs; // Qt's own dialog
        std::function<QDate()> today;         // the local date
        MessagePresenter showMessage;         // a modal message box
        ShellLauncher shellOpen;              // the desktop's launcher
        QString programDirectory;             // the executable's directory
        std::optional<bool> updaterShipped;   // whether this build has an updater
    };

    explicit Form1(Services services = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Puts the address, the queue and the report back to their initial state.
    void ResetParameters();
    // Makes both arrays end at `index` and stores the two text boxes there.
    void StoreEntry(int index);
    // Queues addresses that come from outside the window (its command line, a later start),
    // each as a pasted line would be queued: the same name, path and limits. During a run they
    // also join the end of the run. What the full queue cannot hold is told in the window.
    HandOverReply queueHandedAddresses(const QStringList &addresses);

    // The queue as the window holds it: entry i is row i of the queue list while the list
    // does not show the placeholder.
    const QStringList &queuedPages() const { return m_queue.pages(); }
    const QStringList &queuedPaths() const { return m_queue.paths(); }
    int editedEntry() const { return m_queue.editedEntry(); }
    bool ready() const { return isReady; }

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // form1.cpp: the controls, the start and the buttons beside the queue.
    void createControls();
    void placeControls();
    void describeControls();
    void connectControls();
    void Form_Load();
    void restoreInterruptedRun();
    void CheckForUpdate();
    void cmdOpenClick();
    void cmdEffaceClick();
    void chkAlwaysOnTopClick();

    // form1queue.cpp: editing the queue.
    bool queueIsEmpty() const { return m_queue.isEmpty(); }
    void showQueue();
    void setTextQuietly(QLineEdit *box, const QString &text);
    void txtPageChange();
    void pasteIntoPage(const QString &text);
    void showPageMenu(const QPoint &at);
    void selectAddressForNextPaste();
    int queuedCount() const;
    int queueAddresses(const QStringList &addresses);
    void tellNotQueued(int count);
    void txtPathChange();
    void listDlClick();
    void listDlDelete();

    // form1run.cpp: the batch run, as the window shows it.
    void cmdDownLoadClick();
    void connectRun();
    void turnBegins(int entry);
    int appendToRun(const QStringList &addresses);
    void endRun();
    void stopRun(bool keepData);
    void finishRun();
    bool isRunning() const { return m_batch != nullptr; }
    void runTick();
    void showRun();
    void showProgress(qint64 received, qint64 total);

    AddressBox *txtPage;
    QLineEdit *txtPath;
    PictureButton *cmdDownLoad;
    QLabel *Label1;
    QLabel *Label2;
    QLabel *labMess;
    PictureButton *cmdOpen;
    QListWidget *ListDl;
    ReportList *listErr;
    PictureButton *cmdEfface;
    QCheckBox *ChkAlwaysOnTop;
    QLabel *Label3;
    std::unique_ptr<SaveAsDialog> CommonDialog1;
    Services m_services;

    DownloadQueue m_queue;
    std::unique_ptr<RunRecorder> m_recorder; // the record of an interrupted run
    bool isReady = false;
    QIcon m_background{QStringLiteral(":/quorrin/background.svg")};
    QProgressBar *m_progress;

    // The batch run under way, and what the window is to show of it at its next repaint: the
    // reports arrive faster than a person can read them.
    BatchRun *m_batch = nullptr;
    struct RunView {
        QStringList rows; // the entries' row texts, taken when the run started
        QString pathBox;  // the path box when the run started: where handed entries go
        int entry = -1;   // the entry whose turn it is
        QString page;
        QString path;
        bool changed = false;
        QElapsedTimer clock;
    };
    RunView m_view;
    RunReport *m_report; // what the report list shows
    QTimer *m_runTick;   // the run's repaints
    bool m_paintDeferred = false;
};

} // namespace quorrin::downloader
