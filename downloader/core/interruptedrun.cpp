#include "interruptedrun.h"

#include "entrynaming.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace quorrin::downloader {
namespace {

// A version bump is for a change that this reader must not misread; a record of another
// version is refused, not guessed at.
const QString FormatMarker = QStringLiteral("quorrin-interrupted-downloads");
constexpr int FormatVersion = 1;

const QString FormatKey = QStringLiteral("format");
const QString VersionKey = QStringLiteral("version");
const QString EntriesKey = QStringLiteral("entries");
const QString RowKey = QStringLiteral("row");
const QString AddressKey = QStringLiteral("address");
const QString PathKey = QStringLiteral("path");

// The writer escapes every control character; Qt's reader lets some through raw (a NUL, a line
// break inside a string), which no record of ours holds. Tabs, line feeds and carriage returns
// may stand between the tokens.
bool holdsRawControlByte(const QByteArray &bytes)
{
    return std::any_of(bytes.cbegin(), bytes.cend(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
}

// An escape such as "\ud800" decodes to half a surrogate pair: no text at all.
std::optional<QString> textOf(const QJsonValue &value)
{
    if (!value.isString())
        return std::nullopt;
    QString text = value.toString();
    if (!text.isValidUtf16())
        return std::nullopt;
    return text;
}

// What the queue holds of an entry once a paste queued it: the row is its address's name and
// neither the address nor the path breaks a line (the window splits pasted lines apart). The
// path may be anything else: the user edits it freely.
bool queueCanHold(const InterruptedEntry &entry)
{
    return fileNameFromAddress(entry.address) == entry.row && !holdsLineBreak(entry.address) &&
           !holdsLineBreak(entry.path);
}

std::optional<InterruptedEntry> entryOf(const QJsonValue &value)
{
    const QJsonObject object = value.toObject();
    if (!value.isObject() || object.size() != 3)
        return std::nullopt;
    const std::optional<QString> row = textOf(object.value(RowKey));
    const std::optional<QString> address = textOf(object.value(AddressKey));
    const std::optional<QString> path = textOf(object.value(PathKey));
    if (!row || !address || !path)
        return std::nullopt;
    InterruptedEntry entry{*row, *address, *path};
    if (!queueCanHold(entry))
        return std::nullopt;
    return entry;
}

// The record's outer object, when it says it is one of ours in this version.
std::optional<QJsonArray> entriesOf(const QByteArray &bytes)
{
    if (bytes.size() > MaxInterruptedRunBytes || holdsRawControlByte(bytes))
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject record = document.object();
    const QJsonValue version = record.value(VersionKey);
    if (record.size() != 3 || record.value(FormatKey) != FormatMarker || !version.isDouble() ||
        version.toDouble() != FormatVersion || !record.value(EntriesKey).isArray())
        return std::nullopt;
    return record.value(EntriesKey).toArray();
}

} // namespace

std::optional<QList<InterruptedEntry>> parseInterruptedRun(const QByteArray &bytes)
{
    const std::optional<QJsonArray> array = entriesOf(bytes);
    if (!array || array->isEmpty() || array->size() > MaxQueueEntries)
        return std::nullopt;
    QList<InterruptedEntry> entries;
    entries.reserve(array->size());
    for (const QJsonValue &value : *array) {
        std::optional<InterruptedEntry> entry = entryOf(value);
        if (!entry)
            return std::nullopt;
        entries.append(std::move(*entry));
    }
    // Such a first row would make the queue read as empty: its entries could never run.
    if (entries.first().row == QueuePlaceholder)
        return std::nullopt;
    return entries;
}

QByteArray serializeInterruptedRun(const QList<InterruptedEntry> &entries)
{
    QJsonArray array;
    for (const InterruptedEntry &entry : entries)
        array.append(
            QJsonObject{{RowKey, entry.row}, {AddressKey, entry.address}, {PathKey, entry.path}});
    const QJsonObject record{
        {FormatKey, FormatMarker}, {VersionKey, FormatVersion}, {EntriesKey, array}};
    return QJsonDocument(record).toJson(QJsonDocument::Indented);
}

} // namespace quorrin::downloader
