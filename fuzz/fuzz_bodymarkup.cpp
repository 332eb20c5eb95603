// The body's markup taken out of any document, then scanned as the updater does.
#include "bodymarkup.h"
#include "fuzzinput.h"
#include "pagescan.h"

using namespace quorrin;
using namespace quorrin::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString document = fuzz::decodeInput(data, size);
    const QString body = bodyMarkup(document);

    // The body is a piece of the document as sent.
    fuzz::require(body.size() <= document.size());
    fuzz::require(document.contains(body));

    const QStringList updArgs{QStringLiteral("setup_quorrin"), QStringLiteral("3"),
                              QStringLiteral("Quorrin"), QStringLiteral("quorrin")};
    readUpdatePage(body, updArgs, QStringLiteral("/opt/quorrin"),
                   QStringLiteral("http://updates.test/q/"));
    return 0;
}
