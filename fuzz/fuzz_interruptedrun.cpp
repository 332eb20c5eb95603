// The interrupted run's reader on any bytes found where its record should be.
#include "entrynaming.h"
#include "fuzzinput.h"
#include "interruptedrun.h"

using namespace quorrin;
using namespace quorrin::downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QList<InterruptedEntry>> entries = parseInterruptedRun(bytes);
    if (!entries)
        return 0;

    // What it accepts the queue can show and run: the window relies on each of these.
    fuzz::require(entries->size() <= MaxQueueEntries);
    if (entries->isEmpty())
        return 0; // every entry of the run had ended
    fuzz::require(entries->first().row != QueuePlaceholder);
    for (const InterruptedEntry &entry : *entries) {
        fuzz::require(fileNameFromAddress(entry.address) == entry.row);
        fuzz::require(!holdsLineBreak(entry.address) && !holdsLineBreak(entry.path));
    }
    // Written again, the record reads back as the same entries, as does each one added to it.
    fuzz::require(parseInterruptedRun(serializeInterruptedRun(*entries)) == entries);
    QByteArray added = serializeInterruptedRun(entries->first(1));
    for (const InterruptedEntry &entry : entries->sliced(1))
        added += loggedEntry(entry);
    fuzz::require(parseInterruptedRun(added) == entries);
    return 0;
}
