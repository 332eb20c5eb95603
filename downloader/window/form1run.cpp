// The batch run: every queued entry in turn, each with its report rows. A chain of steps: each
// entry's transfer runs in the background, and its end starts the next entry.
#include "desktopnotification.h"
#include "downloadtarget.h"
#include "form1.h"
#include "reportrow.h"
#include "runendnotice.h"
#include "transfer.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTimer>

#include <utility>

namespace quorrin::downloader {
namespace {

const QString StartedRow = QStringLiteral("Téléchargement de ");
const QString FinishedRow = QStringLiteral("Téléchargement terminé");
const QString ErrorRow = QStringLiteral("Erreur pour ");
const QString RunFinished = QStringLiteral("Tous les téléchargements sont terminés");
const QString QueueCaption = QStringLiteral("Fichiers à télécharger :");

} // namespace

void Form1::cmdDownLoadClick()
{
    if (!isReady || queueIsEmpty())
        return;
    isReady = false;
    listErr->clear();
    listErr->show();
    m_run = {0, ListDl->count() - 1, {}, {}};
    m_run.clock.start();
    m_progress->setRange(0, 0);
    m_progress->show();
    m_runTick->start();
    downloadEntry();
}

// The entries from the one under way on, until one has a transfer running; the end of that
// transfer comes back to entryTransferred().
void Form1::downloadEntry()
{
    for (; m_run.row <= m_run.last; ++m_run.row) {
        if (startEntry())
            return;
        addReportRow(FinishedRow);
    }
    endRun();
}

// Steps of one entry up to its transfer; false when the entry cannot have one.
bool Form1::startEntry()
{
    const int row = m_run.row;
    const QString entry = m_run.entry = ListDl->item(row)->text();
    labMess->setText(StartedRow + entry);
    addReportRow(StartedRow + entry);
    ListDl->setCurrentRow(row);
    txtPage->setText(m_queue.page(row));
    txtPath->setText(m_queue.path(row));
    const DownloadTarget target = prepareTarget(txtPath->text());
    for (const QString &cause : target.causes)
        reportError(entry, cause);
    txtPath->setText(target.path);
    if (!target.usable)
        return false;
    m_progress->setRange(0, 0);
    // A name taken during the transfer is not replaced: the next free one is used instead.
    TransferOptions options;
    options.keepPartial = true;
    options.freePath = [stored = m_queue.path(row)](const QString &) {
        return nextFreePath(stored);
    };
    m_transfer = startDownload(txtPage->text(), txtPath->text(), options, this);
    connect(m_transfer, &Transfer::progress, this, &Form1::showProgress);
    connect(m_transfer, &Transfer::finished, this, &Form1::entryTransferred);
    return true;
}

void Form1::entryTransferred(const DownloadResult &result)
{
    m_transfer->deleteLater();
    m_transfer = nullptr;
    if (!result.ok)
        reportError(m_run.entry, result.cause);
    else if (result.path != txtPath->text())
        txtPath->setText(result.path);
    addReportRow(FinishedRow);
    ++m_run.row;
    downloadEntry();
}

void Form1::endRun()
{
    finishRun();
    labMess->setText(RunFinished);
    if (announceRunEnd(std::chrono::milliseconds(m_run.clock.elapsed()), isActiveWindow()))
        notifyDesktop(RunFinished, failedEntriesNotice(failedEntryCount(listErr)));
    // The boxes show the last entry: that is the one an edit now goes to.
    m_queue.setEditedEntry(m_run.last);
    selectAddressForNextPaste();
    isReady = true;
}

// Ends the run where it stands: the transfer under way is cancelled and leaves nothing.
void Form1::stopRun()
{
    if (isRunning()) {
        finishRun();
        labMess->setText(QueueCaption);
        isReady = true;
    }
}

void Form1::finishRun()
{
    delete m_transfer; // cancels it
    m_transfer = nullptr;
    m_runTick->stop();
    m_progress->hide();
    showReportEnd();
    // The request held back is still the window's only one: it has to come through.
    if (std::exchange(m_paintDeferred, false))
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

// A run repaints the window at a rate a person can follow: a queue of small files would
// otherwise spend most of its time painting every entry.
bool Form1::event(QEvent *event)
{
    if (event->type() == QEvent::UpdateRequest && isRunning()) {
        m_paintDeferred = true;
        return true;
    }
    return QWidget::event(event);
}

void Form1::runTick()
{
    showReportEnd();
    if (std::exchange(m_paintDeferred, false)) {
        QEvent paint(QEvent::UpdateRequest);
        QWidget::event(&paint);
    }
}

// From the first entry to the end of the last, an entry's transfer is always under way.
bool Form1::isRunning() const
{
    return m_transfer != nullptr;
}

void Form1::showProgress(qint64 received, qint64 total)
{
    if (total <= 0)
        return;
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(received * 1000 / total));
}

void Form1::addReportRow(const QString &text, const QString &cause)
{
    appendReportRow(listErr, text, cause);
    m_reportEndShown = false;
}

// Selects the report's last row, which scrolls it into view. Done at each repaint rather than
// at each row: every selection lays out the whole grown list again.
void Form1::showReportEnd()
{
    if (m_reportEndShown)
        return;
    listErr->setCurrentRow(listErr->count() - 1);
    m_reportEndShown = true;
}

void Form1::reportError(const QString &entry, const QString &cause)
{
    addReportRow(ErrorRow + entry, cause);
}

void Form1::closeEvent(QCloseEvent *event)
{
    // What has arrived stays for the next run to continue.
    if (m_transfer)
        m_transfer->stop();
    stopRun();
    event->accept();
}

} // namespace quorrin::downloader
