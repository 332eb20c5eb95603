// The batch run: every queued entry in turn, each with its report rows.
#include "form1.h"
#include "freename.h"
#include "inputhold.h"
#include "pathdirectories.h"
#include "pathexistence.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>

namespace quorrin {
namespace {

const QString StartedRow = QStringLiteral("Téléchargement de ");
const QString FinishedRow = QStringLiteral("Téléchargement terminé");
const QString ErrorRow = QStringLiteral("Erreur pour ");
const QString RunFinished = QStringLiteral("Tous les téléchargements sont terminés");
// The window repaints and takes the user's input at most ten times a second during a run:
// a queue of small files would otherwise spend most of its time repainting.
constexpr int YieldInterval = 100; // ms

} // namespace

void Form1::cmdDownLoadClick()
{
    // A reset during a run makes the window ready again; the run still owns the queue.
    if (!isReady || m_running || queueIsEmpty())
        return;
    isReady = false;
    m_running = true;
    const int resetsBefore = m_resets;
    m_sinceYield.invalidate();
    listErr->clear();
    listErr->show();
    const int last = ListDl->count() - 1;
    for (int row = 0; row <= last && !m_closing && m_resets == resetsBefore; ++row)
        downloadEntry(row);
    m_progress->hide();
    showReportEnd();
    labMess->setText(RunFinished);
    isReady = true;
    m_running = false;
}

void Form1::downloadEntry(int row)
{
    const QString entry = ListDl->item(row)->text();
    const int resetsBefore = m_resets;
    labMess->setText(StartedRow + entry);
    addReportRow(StartedRow + entry);
    ListDl->setCurrentRow(row);
    txtPage->setText(arrPage.value(row));
    txtPath->setText(arrPath.value(row));
    if (const QString failure = CreatePathDirectories(txtPath->text()); !failure.isEmpty())
        reportError(entry, failure);
    chooseFreeName(entry);
    yieldToEvents();
    // A reset or a close during the yield leaves this entry without its transfer.
    if (!m_closing && m_resets == resetsBefore)
        transfer(entry);
    yieldToEvents();
    addReportRow(FinishedRow);
}

// Nothing that stands at the path is replaced: a numbered name is chosen instead.
void Form1::chooseFreeName(const QString &entry)
{
    const Existence existence = testExistence(txtPath->text());
    if (existence.state == Existence::Failed)
        reportError(entry, existence.cause);
    if (existence.state == Existence::Absent)
        return;
    const FreeName freeName = findFreeName(txtPath->text());
    if (!freeName.failure.isEmpty())
        reportError(entry, freeName.failure);
    txtPath->setText(freeName.path);
}

void Form1::transfer(const QString &entry)
{
    m_progress->setRange(0, 0);
    m_progress->show();
    const InputHold hold;
    const DownloadResult result = m_downloader.download(
        txtPage->text(), txtPath->text(),
        [this](qint64 received, qint64 total) { return showProgress(received, total); });
    if (!result.ok)
        reportError(entry, result.cause);
}

// Shows the transfer's progress; the window repaints now and then, while user input waits
// for the transfer's end. A close abandons the transfer.
bool Form1::showProgress(qint64 received, qint64 total)
{
    if (total > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(int(received * 1000 / total));
    }
    yieldToEvents();
    return !m_closing;
}

void Form1::yieldToEvents()
{
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < YieldInterval)
        return;
    showReportEnd();
    QCoreApplication::processEvents();
    m_sinceYield.start();
}

void Form1::addReportRow(const QString &text, const QString &toolTip)
{
    auto *item = new QListWidgetItem(text, listErr);
    item->setToolTip(toolTip);
    m_reportEndShown = false;
}

// Selects the report's last row, which scrolls it into view. Done when the window is about to
// repaint rather than at each row: every selection lays out the whole grown list again.
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
    m_closing = m_running;
    event->accept();
}

} // namespace quorrin
