// The window's reader of what later starts hand it, and a start's reader of the window's reply,
// on any bytes that reach the socket.
#include "fuzzinput.h"
#include "handovermessage.h"

#include <algorithm>

using namespace quorrin;
using namespace quorrin::downloader;

namespace {

bool breaksLine(const QString &text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool holdsControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    if (const std::optional<HandOver> handOver = parseHandOver(bytes)) {
        // What the window queues and passes on to the desktop is what the writer sends.
        for (const QString &address : handOver->addresses)
            fuzz::require(!address.isEmpty() && !breaksLine(address));
        for (const QString &activation : {handOver->startupId, handOver->activationToken}) {
            fuzz::require(!holdsControl(activation));
            fuzz::require(activation.toUtf8().size() <= MaxActivationBytes);
        }
        // One message, one spelling: written again, it is the very bytes read.
        fuzz::require(serializeHandOver(*handOver) == bytes);
    }

    if (const std::optional<HandOverReply> reply = parseHandOverReply(bytes)) {
        fuzz::require(reply->queued >= 0 && reply->notQueued >= 0 && reply->entries >= 0);
        fuzz::require(serializeHandOverReply(*reply) == bytes);
    }
    return 0;
}
