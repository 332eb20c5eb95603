// Editing the queue: a paste, a drop or typing in the address box queues entries, the list
// shows and removes them, and the boxes edit the entry shown.
#include "entrynaming.h"
#include "form1.h"
#include "queuenotices.h"
#include "reportlist.h"
#include "runreport.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QSignalBlocker>

#include <algorithm>
#include <memory>

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

// The paste of a text box's own menu: named so in newer Qt versions, else known by its text,
// which Qt translates with the same words as the box does.
QAction *pasteAction(const QMenu *menu)
{
    const QString text = QCoreApplication::translate("QLineEdit", "&Paste");
    for (QAction *action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste") ||
            action->text().section(QLatin1Char('\t'), 0, 0) == text)
            return action;
    }
    return nullptr;
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
        pasteIntoPage(QGuiApplication::clipboard()->text(QClipboard::Selection));
        return true;
    }
    if (watched == txtPage && event->type() == QEvent::ContextMenu) {
        showPageMenu(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    if (watched == ListDl && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        listDlDelete();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// The box's own menu, whose paste is the window's: the same rules as the keyboard's.
void Form1::showPageMenu(const QPoint &at)
{
    const std::unique_ptr<QMenu> menu(txtPage->createStandardContextMenu());
    if (QAction *paste = pasteAction(menu.get())) {
        disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this,
                [this] { pasteIntoPage(QGuiApplication::clipboard()->text()); });
    }
    menu->exec(at);
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
    const int before = queuedCount();
    tellNotQueued(queueAddresses(droppedAddresses(event->mimeData())));
    if (queuedCount() > before)
        selectAddressForNextPaste();
    event->acceptProposedAction();
}

void Form1::ResetParameters()
{
    txtPage->setText(QStringLiteral("http://"));
    // Selected, as when the box is reached with Tab: a paste or typing replaces it.
    txtPage->selectWhole();
    m_queue.ResetParameters();
    showQueue();
    m_report->clear();
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
        tellNotQueued(queueAddresses(addressLines(txtPage->text())));
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

// Each address is queued as one pasted alone would be (the box's Change for each in turn),
// and the boxes and the list are brought up to date once, for all of them: a paste of a
// full queue's lines would otherwise lay the boxes out and notify their readers tens of
// thousands of times. Returns how many found the queue full.
int Form1::queueAddresses(const QStringList &addresses)
{
    if (addresses.isEmpty())
        return 0;
    int notQueued = 0;
    QStringList names;
    names.reserve(addresses.size());
    m_queue.reserve(addresses.size());
    QString path = txtPath->text();
    const bool wasEmpty = m_queue.isEmpty();
    for (const QString &line : addresses) {
        const QString address = line.left(txtPage->maxLength()); // as the box would hold it
        const std::optional<QString> name = fileNameFromAddress(address);
        const std::optional<QString> at = name ? pathInSameDirectory(path, *name) : std::nullopt;
        if (!at)
            continue;
        if (!m_queue.append(*name, address, *at)) {
            ++notQueued;
            continue;
        }
        names << *name;
        path = *at;
    }
    setTextQuietly(txtPage, addresses.last().left(txtPage->maxLength()));
    if (names.isEmpty())
        return notQueued;
    setTextQuietly(txtPath, path);
    if (wasEmpty)
        ListDl->clear();
    ListDl->addItems(names);
    return notQueued;
}

HandOverReply Form1::queueHandedAddresses(const QStringList &addresses)
{
    const int before = queuedCount();
    int notQueued = 0;
    if (isRunning()) {
        notQueued = appendToRun(addresses);
    } else {
        notQueued = queueAddresses(addresses);
        if (queuedCount() > before)
            selectAddressForNextPaste();
    }
    tellNotQueued(notQueued);
    return {queuedCount() - before, notQueued, queuedCount()};
}

// During a run the caption follows the entries: the run's report tells it instead.
void Form1::tellNotQueued(int count)
{
    if (count <= 0)
        return;
    if (isRunning())
        m_report->notice(queueFullCaption(count));
    else
        labMess->setText(queueFullCaption(count));
}

// During a run a paste changes nothing: the box keeps the entry under way. Otherwise one line
// goes into the box at the cursor, over the selection, as Qt's own paste does, and several
// lines queue one entry each.
void Form1::pasteIntoPage(const QString &text)
{
    if (!isReady)
        return;
    const int before = queuedCount();
    if (!holdsLineBreak(text))
        txtPage->insert(text);
    else
        tellNotQueued(queueAddresses(addressLines(text)));
    if (queuedCount() > before)
        selectAddressForNextPaste();
}

// Selected, the address queued last is replaced by the next paste instead of growing by it.
void Form1::selectAddressForNextPaste()
{
    txtPage->selectWhole();
}

int Form1::queuedCount() const
{
    return m_queue.isEmpty() ? 0 : int(m_queue.rows().size());
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
