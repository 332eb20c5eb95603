#include "handovermessage.h"

#include <QStringDecoder>

#include <algorithm>
#include <charconv>

namespace quorrin::downloader {
namespace {

// A version bump is for a change that this reader must not misread: a message of another
// version is refused, not guessed at.
constexpr QByteArrayView MessageMarker = "quorrin-hand-over 1";
constexpr QByteArrayView ReplyMarker = "quorrin-hand-over-reply 1";
constexpr QByteArrayView StartupIdField = "startup-id ";
constexpr QByteArrayView ActivationTokenField = "activation-token ";
constexpr QByteArrayView AddressField = "address ";
constexpr QByteArrayView QueuedField = "queued ";
constexpr QByteArrayView NotQueuedField = "not-queued ";
constexpr QByteArrayView EntriesField = "entries ";
constexpr QByteArrayView EndLine = "end";

// The lines of a message, each ended by a line feed; what follows the last one is no line.
class Lines {
public:
    explicit Lines(QByteArrayView bytes)
        : m_rest(bytes)
    {
    }

    std::optional<QByteArrayView> next()
    {
        const qsizetype end = m_rest.indexOf('\n');
        if (end < 0)
            return std::nullopt;
        const QByteArrayView line = m_rest.first(end);
        m_rest = m_rest.sliced(end + 1);
        return line;
    }
    // The next line, when it starts with `key`: what follows the key.
    std::optional<QByteArrayView> nextWith(QByteArrayView key)
    {
        const qsizetype end = m_rest.indexOf('\n');
        if (end < 0 || !m_rest.first(end).startsWith(key))
            return std::nullopt;
        return next()->sliced(key.size());
    }
    bool atEnd() const { return m_rest.isEmpty(); }

private:
    QByteArrayView m_rest;
};

bool isLineBreak(char16_t c)
{
    return c == u'\n' || c == u'\r';
}

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7f;
}

// Strict UTF-8: an invalid or overlong sequence, an encoded surrogate, is no text. A byte-order
// mark stays, as any other character, so that the text is written back as it came.
std::optional<QString> decoded(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isSendableAddress(const QString &address)
{
    return !address.isEmpty() && std::none_of(address.cbegin(), address.cend(),
                                              [](QChar c) { return isLineBreak(c.unicode()); });
}

bool isSendableActivation(const QString &value)
{
    return value.toUtf8().size() <= MaxActivationBytes &&
           std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return isControl(c.unicode()); });
}

std::optional<QString> addressOf(QByteArrayView bytes)
{
    std::optional<QString> address = decoded(bytes);
    if (!address || !isSendableAddress(*address))
        return std::nullopt;
    return address;
}

// An absent startup id or token is no line; a present one is not empty.
std::optional<QString> activationOf(QByteArrayView bytes)
{
    std::optional<QString> value = decoded(bytes);
    if (!value || value->isEmpty() || !isSendableActivation(*value))
        return std::nullopt;
    return value;
}

// A count as the writer spells it: decimal digits without a sign or a leading zero.
std::optional<int> countOf(QByteArrayView digits)
{
    if (digits.isEmpty() || (digits.size() > 1 && digits.front() == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int count = 0;
    const auto [end, error] = std::from_chars(digits.begin(), digits.end(), count);
    if (error != std::errc() || end != digits.end())
        return std::nullopt;
    return count;
}

void appendLine(QByteArray &bytes, QByteArrayView key, const QString &value)
{
    bytes.append(key);
    bytes.append(value.toUtf8());
    bytes.append('\n');
}

} // namespace

QByteArray serializeHandOver(const HandOver &handOver)
{
    QByteArray bytes = MessageMarker.toByteArray() + '\n';
    if (!handOver.startupId.isEmpty() && isSendableActivation(handOver.startupId))
        appendLine(bytes, StartupIdField, handOver.startupId);
    if (!handOver.activationToken.isEmpty() && isSendableActivation(handOver.activationToken))
        appendLine(bytes, ActivationTokenField, handOver.activationToken);
    for (const QString &address : handOver.addresses) {
        if (isSendableAddress(address))
            appendLine(bytes, AddressField, address);
    }
    bytes.append(EndLine);
    bytes.append('\n');
    return bytes;
}

std::optional<HandOver> parseHandOver(QByteArrayView bytes)
{
    if (bytes.size() > MaxHandOverBytes)
        return std::nullopt;
    Lines lines(bytes);
    if (lines.next() != MessageMarker)
        return std::nullopt;
    HandOver handOver;
    if (const std::optional<QByteArrayView> id = lines.nextWith(StartupIdField)) {
        const std::optional<QString> value = activationOf(*id);
        if (!value)
            return std::nullopt;
        handOver.startupId = *value;
    }
    if (const std::optional<QByteArrayView> token = lines.nextWith(ActivationTokenField)) {
        const std::optional<QString> value = activationOf(*token);
        if (!value)
            return std::nullopt;
        handOver.activationToken = *value;
    }
    while (const std::optional<QByteArrayView> line = lines.nextWith(AddressField)) {
        std::optional<QString> address = addressOf(*line);
        if (!address)
            return std::nullopt;
        handOver.addresses.append(std::move(*address));
    }
    if (lines.next() != EndLine || !lines.atEnd())
        return std::nullopt;
    return handOver;
}

QByteArray serializeHandOverReply(const HandOverReply &reply)
{
    QByteArray bytes = ReplyMarker.toByteArray() + '\n';
    appendLine(bytes, QueuedField, QString::number(reply.queued));
    appendLine(bytes, NotQueuedField, QString::number(reply.notQueued));
    appendLine(bytes, EntriesField, QString::number(reply.entries));
    bytes.append(EndLine);
    bytes.append('\n');
    return bytes;
}

std::optional<HandOverReply> parseHandOverReply(QByteArrayView bytes)
{
    Lines lines(bytes);
    if (lines.next() != ReplyMarker)
        return std::nullopt;
    HandOverReply reply;
    for (const auto &[key, count] :
         {std::pair{QueuedField, &reply.queued}, std::pair{NotQueuedField, &reply.notQueued},
          std::pair{EntriesField, &reply.entries}}) {
        const std::optional<QByteArrayView> digits = lines.nextWith(key);
        const std::optional<int> value = digits ? countOf(*digits) : std::nullopt;
        if (!value)
            return std::nullopt;
        *count = *value;
    }
    if (lines.next() != EndLine || !lines.atEnd())
        return std::nullopt;
    return reply;
}

} // namespace quorrin::downloader
