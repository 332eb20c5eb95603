// The command-line split on any text.
#include "commandline.h"
#include "fuzzinput.h"
#include "updatetexts.h"

using namespace quorrin;
using namespace quorrin::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString commandLine = fuzz::decodeInput(data, size);
    const QStringList fields = splitCommandLine(commandLine);

    // Splitting loses nothing: the fields joined by TAB are the command line again.
    fuzz::require(fields.isEmpty() == commandLine.isEmpty());
    fuzz::require(fields.join(QLatin1Char('\t')) == commandLine);
    fuzz::require(fields.size() ==
                  commandLine.count(QLatin1Char('\t')) + (fields.isEmpty() ? 0 : 1));

    const QString name = fields.value(NameField);
    fuzz::require(updateTitle(name).endsWith(name));
    fuzz::require(notFoundMessage(name).count(QLatin1Char('\n')) >= 3);
    return 0;
}
