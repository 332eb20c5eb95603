// Editing the queue: a paste, a drop or typing in the address box queues entries, the list
// shows and removes them, and the boxes edit the entry shown.
#include "entrynaming.h"
#include "form1.h"

#include <QClipboard>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>

namespace quorrin::downloader {
namespace {

// What a drop brings: the links it carries, else the lines of its text.
QStringList droppedAddresses(const QMimeData *data)
{
    if (data->hasUrls()) {
        QStringList addresses;
        for (const QUrl &url : data->urls())
            addresses << url.toString(QUrl::FullyEncoded);
        return addresses;
    }
    return addressLines(data->text());
}

} // namespace

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // The clipboard is read once, here: a paste of several lines queues each line.
    if (watched == txtPage && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Paste)) {
        pasteIntoPage(QGuiApplication::clipboard()->text());
        return true;
    }
    if (watched == txtPage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent *>(event)->button() == Qt::MiddleButton &&
        QGuiApplication::clipboard()->supportsSelection()) {
        txtPage->deselect();
        pasteIntoPage(QGuiApplication::clipboard()->text(QClipboard::Selection));
        return true;
    }
    if (watched == ListDl && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        listDlDelete();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (isReady && (event->mimeData()->hasUrls() || event->mimeData()->hasText()))
        event->acceptProposedAction();
}

// During a run a drop does nothing, as a paste does.
void Form1::dropEvent(QDropEvent *event)
{
    if (!isReady)
        return;
    queueAddresses(droppedAddresses(event->mimeData()));
    event->acceptProposedAction();
}

void Form1::ResetParameters()
{
    txtPage->setText(QStringLiteral("http://"));
    // Selected, as when the box is reached with Tab: a paste or typing replaces it.
    txtPage->selectAll();
    m_queue.ResetParameters();
    showQueue();
    listErr->clear();
    listErr->hide();
    isReady = true;
}

void Form1::StoreEntry(int index)
{
    m_queue.StoreEntry(index, txtPage->text(), txtPath->text());
}

// The queue list shows the queue's rows.
void Form1::showQueue()
{
    ListDl->clear();
    ListDl->addItems(m_queue.rows());
}

// The text boxes' change handlers stand aside while the window fills them itself.
void Form1::setTextQuietly(QLineEdit *box, const QString &text)
{
    isReady = false;
    box->setText(text);
    isReady = true;
}

void Form1::txtPageChange()
{
    if (!isReady)
        return;
    // Lines that reached the box another way than the keyboard's paste (the context menu).
    if (holdsLineBreak(txtPage->text())) {
        queueAddresses(addressLines(txtPage->text()));
        if (holdsLineBreak(txtPage->text()))
            setTextQuietly(txtPage, QString());
        return;
    }
    const std::optional<QString> name = fileNameFromAddress(txtPage->text());
    if (!name)
        return;
    const std::optional<QString> path = pathInSameDirectory(txtPath->text(), *name);
    if (!path || m_queue.isFull())
        return;
    setTextQuietly(txtPath, *path);
    const bool wasEmpty = m_queue.isEmpty();
    m_queue.append(*name, txtPage->text(), txtPath->text());
    if (wasEmpty)
        ListDl->clear();
    ListDl->addItem(*name);
}

// Each address goes through the box's Change as if pasted alone.
void Form1::queueAddresses(const QStringList &addresses)
{
    for (const QString &address : addresses)
        txtPage->setText(address);
}

// One line goes into the box at the cursor, over the selection, as Qt's own paste does.
void Form1::pasteIntoPage(const QString &text)
{
    if (!holdsLineBreak(text))
        txtPage->insert(text);
    else if (isReady)
        queueAddresses(addressLines(text));
}

void Form1::txtPathChange()
{
    if (isReady)
        m_queue.setEditedPath(txtPath->text());
}

void Form1::listDlClick()
{
    if (!isReady || queueIsEmpty())
        return;
    const int row = ListDl->currentRow();
    if (row < 0)
        return;
    isReady = false;
    txtPage->setText(m_queue.page(row));
    txtPath->setText(m_queue.path(row));
    isReady = true;
    // What the boxes show is what the user edits.
    m_queue.setEditedEntry(row);
}

void Form1::listDlDelete()
{
    const QList<QListWidgetItem *> selected = ListDl->selectedItems();
    if (!isReady || queueIsEmpty() || selected.isEmpty())
        return;
    const int row = ListDl->row(selected.first());
    m_queue.removeAt(row);
    {
        // The removal leaves no selection; selecting the next row below is what shows it.
        const QSignalBlocker blocker(ListDl);
        delete ListDl->takeItem(row);
        ListDl->setCurrentRow(-1);
    }
    if (ListDl->count() == 0)
        ListDl->addItem(QueuePlaceholder);
    ListDl->setCurrentRow(std::min(row, ListDl->count() - 1));
}

} // namespace quorrin::downloader
