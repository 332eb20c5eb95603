// The page scan on any page and command line. Input: the command line, a line feed, then
// the page's body markup.
#include "commandline.h"
#include "fuzzinput.h"
#include "pagescan.h"

#include <QDir>
#include <QFileInfo>

using namespace quorrin;
using namespace quorrin::updater;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = fuzz::decodeInput(data, size);
    const qsizetype lineEnd = input.indexOf(QLatin1Char('\n'));
    const QStringList updArgs = splitCommandLine(lineEnd < 0 ? input : input.left(lineEnd));
    const QString html = lineEnd < 0 ? QString() : input.mid(lineEnd + 1);

    const QString directory = QStringLiteral("/opt/quorrin");
    const ScanResult result =
        readUpdatePage(html, updArgs, directory, QStringLiteral("http://updates.test/q/"));
    if (result.action != ScanResult::Action::Notify)
        return 0;

    // No page may place the installer anywhere but in the program's directory.
    fuzz::require(isPlainFileName(result.installerName));
    fuzz::require(result.setupPath == directory + QLatin1Char('/') + result.installerName);
    fuzz::require(QFileInfo(QDir::cleanPath(result.setupPath)).absolutePath() == directory);
    fuzz::require(result.installerName.endsWith(QLatin1String(".exe")));
    fuzz::require(html.contains(QLatin1String("<A href=\"") + result.installerName));
    const qsizetype digits = result.pageRevision.size();
    fuzz::require(digits >= 1 && digits <= 6);
    return 0;
}
