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
constexpr int FirstVersion = 1;  // the entries alone
constexpr int FormatVersion = 2; // the entries on the first line, then the log

constexpr QLatin1StringView FormatKey("format");
constexpr QLatin1StringView VersionKey("version");
constexpr QLatin1StringView EntriesKey("entries");
constexpr QLatin1StringView RowKey("row");
constexpr QLatin1StringView AddressKey("address");
constexpr QLatin1StringView PathKey("path");

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

// The entries of the record's outer object, when it says it is one of ours in `version`.
std::optional<QJsonArray> entriesOf(QByteArrayView bytes, int version)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject record = document.object();
    const QJsonValue found = record.value(VersionKey);
    if (record.size() != 3 || record.value(FormatKey) != FormatMarker || !found.isDouble() ||
        found.toDouble() != version || !record.value(EntriesKey).isArray())
        return std::nullopt;
    return record.value(EntriesKey).toArray();
}

// An ended entry's index as the log writes it: decimal digits, no sign, no leading zero.
std::optional<qsizetype> indexOf(QByteArrayView line)
{
    if (line.isEmpty() || line.size() > 5 || (line.size() > 1 && line.front() == '0') ||
        !std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return line.toInt();
}

// The run's entries with its log applied: the entries it added, less those that ended.
std::optional<QList<InterruptedEntry>> withLog(const QJsonArray &array, QByteArrayView log)
{
    if (array.isEmpty() || array.size() > MaxQueueEntries)
        return std::nullopt;
    QList<InterruptedEntry> entries;
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        std::optional<InterruptedEntry> entry = entryOf(value);
        if (!entry)
            return std::nullopt;
        entries.append(std::move(*entry));
    }
    std::vector<bool> ended(entries.size());
    // What follows the last line break was cut short as it was written.
    for (qsizetype end = log.indexOf('\n'); end >= 0; end = log.indexOf('\n')) {
        const QByteArrayView line = log.first(end);
        log = log.sliced(end + 1);
        if (line.startsWith('{')) {
            const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray());
            std::optional<InterruptedEntry> entry =
                document.isObject() ? entryOf(document.object()) : std::nullopt;
            if (!entry || entries.size() >= MaxQueueEntries)
                return std::nullopt;
            entries.append(std::move(*entry));
            ended.push_back(false);
        } else if (const std::optional<qsizetype> index = indexOf(line);
                   index && *index < entries.size()) {
            ended[*index] = true;
        } else {
            return std::nullopt;
        }
    }
    QList<InterruptedEntry> left;
    for (qsizetype i = 0; i < entries.size(); ++i)
        if (!ended[i])
            left.append(std::move(entries[i]));
    // Such a first row would make the queue read as empty: its entries could never run.
    if (!left.isEmpty() && left.first().row == QueuePlaceholder)
        return std::nullopt;
    return left;
}

// JSON text written directly: a full queue's record built as JSON objects first would hold
// several times its size in memory while the run starts.

// A byte that JSON does not take as it is in a string.
void appendEscaped(QByteArray &out, char c)
{
    switch (c) {
    case '"':
        out += "\\\"";
        break;
    case '\\':
        out += "\\\\";
        break;
    case '\b':
        out += "\\b";
        break;
    case '\f':
        out += "\\f";
        break;
    case '\n':
        out += "\\n";
        break;
    case '\r':
        out += "\\r";
        break;
    case '\t':
        out += "\\t";
        break;
    default:
        out +=
            "\\u00" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
    }
}

void appendText(QByteArray &out, const QString &text)
{
    // Qt's reader drops a byte order mark that opens a string written as it is: escaped, the
    // mark stays part of the text, as a name or a path may hold it.
    static constexpr QByteArrayView ByteOrderMark("\xEF\xBB\xBF");
    const QByteArray utf8 = text.toUtf8();
    const QByteArrayView bytes(utf8);
    out += '"';
    // The bytes between two escapes go in at once: a queue's record holds tens of thousands
    // of addresses and paths, which seldom need one.
    qsizetype plain = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool mark = c == ByteOrderMark.front() && bytes.sliced(i).startsWith(ByteOrderMark);
        if (!mark && c != '"' && c != '\\' && static_cast<unsigned char>(c) >= 0x20)
            continue;
        out.append(bytes.sliced(plain, i - plain));
        if (mark) {
            out += "\\ufeff";
            i += ByteOrderMark.size() - 1;
        } else {
            appendEscaped(out, c);
        }
        plain = i + 1;
    }
    out.append(bytes.sliced(plain));
    out += '"';
}

// A key as it opens a member, after the character that comes before it.
void appendKey(QByteArray &out, char before, QLatin1StringView key)
{
    out += before;
    out += '"';
    out.append(key.data(), key.size());
    out += "\":";
}

void appendObject(QByteArray &out, const InterruptedEntry &entry)
{
    appendKey(out, '{', AddressKey);
    appendText(out, entry.address);
    appendKey(out, ',', PathKey);
    appendText(out, entry.path);
    appendKey(out, ',', RowKey);
    appendText(out, entry.row);
    out += '}';
}

} // namespace

std::optional<QList<InterruptedEntry>> parseInterruptedRun(const QByteArray &bytes)
{
    if (bytes.size() > MaxInterruptedRunBytes || holdsRawControlByte(bytes))
        return std::nullopt;
    const qsizetype firstLine = bytes.indexOf('\n');
    if (firstLine >= 0) {
        const QByteArrayView view(bytes);
        if (const std::optional<QJsonArray> array = entriesOf(view.first(firstLine), FormatVersion))
            return withLog(*array, view.sliced(firstLine + 1));
    }
    if (const std::optional<QJsonArray> array = entriesOf(bytes, FirstVersion))
        return withLog(*array, {});
    return std::nullopt;
}

bool serializeInterruptedRun(const QList<InterruptedEntry> &entries,
                             const std::function<bool(const QByteArray &)> &take)
{
    QByteArray out;
    out.reserve(SerializedPiece + 4096);
    appendKey(out, '{', EntriesKey);
    out += '[';
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            out += ',';
        appendObject(out, entries.at(i));
        if (out.size() >= SerializedPiece) {
            if (!take(out))
                return false;
            out.resize(0); // keeps the buffer for the next piece
        }
    }
    out += ']';
    appendKey(out, ',', FormatKey);
    appendText(out, FormatMarker);
    appendKey(out, ',', VersionKey);
    out += QByteArray::number(FormatVersion) + "}\n";
    return take(out);
}

QByteArray serializeInterruptedRun(const QList<InterruptedEntry> &entries)
{
    QByteArray all;
    serializeInterruptedRun(entries, [&all](const QByteArray &piece) {
        all += piece;
        return true;
    });
    return all;
}

QByteArray loggedEntry(const InterruptedEntry &entry)
{
    QByteArray out;
    appendObject(out, entry);
    return out + '\n';
}

QByteArray loggedEnd(int index)
{
    return QByteArray::number(index) + '\n';
}

} // namespace quorrin::downloader
