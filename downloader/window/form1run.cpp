// The batch run as the window shows it: the run's reports, in queue order, drawn at a rate a
// person can follow.
#include "desktopnotification.h"
#include "entrynaming.h"
#include "form1.h"
#include "reportlist.h"
#include "runendnotice.h"
#include "runreport.h"

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

const QString RunFinished = QStringLiteral("Tous les téléchargements sont terminés");
const QString QueueCaption = QStringLiteral("Fichiers à télécharger :");

} // namespace

void Form1::cmdDownLoadClick()
{
    if (!isReady || queueIsEmpty())
        return;
    isReady = false;
    QList<RunEntry> entries;
    m_view = {};
    entries.reserve(ListDl->count());
    m_view.rows.reserve(ListDl->count());
    for (int row = 0; row < ListDl->count(); ++row) {
        m_view.rows << ListDl->item(row)->text();
        entries.push_back({m_view.rows.last(), m_queue.page(row), m_queue.path(row)});
    }
    m_report->start(m_view.rows);
    listErr->show();
    m_view.pathBox = txtPath->text();
    m_view.clock.start();
    m_progress->setRange(0, 0);
    m_progress->show();
    m_runTick->start();
    m_batch = new BatchRun(std::move(entries), this);
    m_batch->keepRecord(m_recorder.get());
    connectRun();
    m_batch->start();
}

void Form1::connectRun()
{
    connect(m_batch, &BatchRun::turnBegins, this, &Form1::turnBegins);
    connect(m_batch, &BatchRun::entryFailed, m_report, &RunReport::failed);
    connect(m_batch, &BatchRun::entryPath, this, [this](int, const QString &path) {
        m_view.path = path;
        m_view.changed = true;
    });
    connect(m_batch, &BatchRun::turnEnds, m_report, &RunReport::ends);
    connect(m_batch, &BatchRun::progress, this, &Form1::showProgress);
    connect(m_batch, &BatchRun::finished, this, &Form1::endRun);
}

void Form1::turnBegins(int entry)
{
    m_view.entry = entry;
    m_view.page = m_queue.page(entry);
    m_view.path = m_queue.path(entry);
    m_view.changed = true;
    m_report->begins(entry);
    m_progress->setRange(0, 0);
}

// Addresses handed in during a run join the end of the queue and of the run, named and placed
// as a paste would have done when the run started; returns how many found the queue full.
int Form1::appendToRun(const QStringList &addresses)
{
    QList<RunEntry> entries;
    int notQueued = 0;
    for (const QString &address : addresses) {
        const std::optional<QString> name = fileNameFromAddress(address);
        const std::optional<QString> path =
            name ? pathInSameDirectory(m_view.pathBox, *name) : std::nullopt;
        if (!path)
            continue;
        if (!m_queue.append(*name, address, *path)) {
            ++notQueued;
            continue;
        }
        entries.push_back({*name, address, *path});
        m_view.rows << *name;
    }
    if (entries.isEmpty())
        return notQueued;
    const QStringList names = m_view.rows.mid(m_view.rows.size() - entries.size());
    ListDl->addItems(names);
    m_report->addNames(names);
    // The run goes as long as the window holds it: it takes them.
    m_batch->append(std::move(entries));
    return notQueued;
}

void Form1::endRun()
{
    finishRun();
    labMess->setText(RunFinished);
    if (announceRunEnd(std::chrono::milliseconds(m_view.clock.elapsed()), isActiveWindow()))
        notifyDesktop(RunFinished, failedEntriesNotice(m_report->failedEntries()));
    // The boxes show the last entry: that is the one an edit now goes to.
    m_queue.setEditedEntry(int(m_view.rows.size()) - 1);
    selectAddressForNextPaste();
    isReady = true;
}

// Ends the run where it stands: every transfer stops at once, leaving nothing, or with
// `keepData` what a later run can continue.
void Form1::stopRun(bool keepData)
{
    if (isRunning()) {
        m_batch->stop(keepData);
        finishRun();
        labMess->setText(QueueCaption);
        isReady = true;
    }
}

void Form1::finishRun()
{
    showRun();
    m_batch->disconnect(this);
    m_batch->deleteLater();
    m_batch = nullptr;
    m_runTick->stop();
    m_progress->hide();
    // The request held back is still the window's only one: it has to come through.
    if (std::exchange(m_paintDeferred, false))
        QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

// A run repaints the window at a rate a person can follow: a queue of small files would
// otherwise spend most of its time laying out and painting every entry.
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
    showRun();
    if (std::exchange(m_paintDeferred, false)) {
        QEvent paint(QEvent::UpdateRequest);
        QWidget::event(&paint);
    }
}

// Brings the controls up to the run's last report: the entry whose turn it is in the boxes,
// the caption and the queue list, and the new report rows, the last one selected.
void Form1::showRun()
{
    if (std::exchange(m_view.changed, false) && m_view.entry >= 0) {
        labMess->setText(RunReport::beginsText(m_view.rows.at(m_view.entry)));
        ListDl->setCurrentRow(m_view.entry);
        txtPage->setText(m_view.page);
        txtPath->setText(m_view.path);
    }
    // Every selection lays out the whole grown list again: once per repaint is enough.
    if (m_report->show())
        listErr->setCurrentIndex(m_report->index(m_report->rowCount() - 1));
}

void Form1::showProgress(qint64 received, qint64 total)
{
    if (total <= 0)
        return;
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(received * 1000 / total));
}

void Form1::closeEvent(QCloseEvent *event)
{
    // What has arrived stays for the next run to continue.
    stopRun(true);
    event->accept();
}

} // namespace quorrin::downloader
