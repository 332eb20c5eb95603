#include "runreport.h"

#include <QApplication>
#include <QStyle>

namespace quorrin::downloader {
namespace {

const QString FailedRow = QStringLiteral("Erreur pour ");
const QString EndsRow = QStringLiteral("Téléchargement terminé");

} // namespace

RunReport::RunReport(QObject *parent)
    : QAbstractListModel(parent)
    , m_warning(QIcon::fromTheme(QStringLiteral("dialog-warning"),
                                 QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning)))
{
}

void RunReport::start(QStringList names)
{
    clear();
    m_names = std::move(names);
    m_rows.reserve(2 * size_t(m_names.size())); // its begin and its end, for each entry
}

void RunReport::addNames(const QStringList &names)
{
    m_names += names;
}

void RunReport::clear()
{
    beginResetModel();
    m_names.clear();
    m_texts.clear();
    m_rows.clear();
    m_shown = 0;
    endResetModel();
}

void RunReport::begins(int entry)
{
    add(Kind::Begins, entry);
}

void RunReport::failed(int entry, const QString &cause)
{
    add(Kind::Failed, entry, cause);
}

void RunReport::ends(int entry)
{
    add(Kind::Ends, entry);
}

void RunReport::notice(const QString &text)
{
    add(Kind::Notice, -1, text);
}

void RunReport::add(Kind kind, int entry, const QString &text)
{
    qint32 at = -1;
    if (!text.isEmpty()) {
        at = qint32(m_texts.size());
        m_texts << text;
    }
    m_rows.push_back({qint32(entry), at, kind});
}

bool RunReport::show()
{
    const int count = int(m_rows.size());
    if (count == m_shown)
        return false;
    beginInsertRows({}, m_shown, count - 1);
    m_shown = count;
    endInsertRows();
    return true;
}

QString RunReport::beginsText(const QString &name)
{
    return QStringLiteral("Téléchargement de ") + name;
}

int RunReport::failedEntries() const
{
    int failed = 0;
    bool previousWasError = false;
    for (int row = 0; row < m_shown; ++row) {
        const bool error = m_rows[row].kind == Kind::Failed;
        if (error && !previousWasError)
            ++failed;
        previousWasError = error;
    }
    return failed;
}

int RunReport::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

QVariant RunReport::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    const Row &row = m_rows[index.row()];
    const QString text = row.text >= 0 ? m_texts.at(row.text) : QString();
    switch (role) {
    case Qt::DisplayRole:
        switch (row.kind) {
        case Kind::Begins:
            return beginsText(m_names.value(row.entry));
        case Kind::Failed:
            return FailedRow + m_names.value(row.entry);
        case Kind::Ends:
            return EndsRow;
        case Kind::Notice:
            return text;
        }
        return {};
    case Qt::ToolTipRole:
    case Qt::AccessibleDescriptionRole:
        return row.kind == Kind::Failed ? QVariant(text) : QVariant();
    case Qt::DecorationRole:
        return row.kind == Kind::Failed ? QVariant(m_warning) : QVariant();
    case ErrorRole:
        return row.kind == Kind::Failed;
    default:
        return {};
    }
}

} // namespace quorrin::downloader
