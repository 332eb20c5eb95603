#include "shellopen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace quorrin {
namespace {

QUrl urlFor(const QString &file)
{
    const QUrl url(file, QUrl::StrictMode);
    // A scheme of one letter would be a drive on another system; here it is a path.
    if (url.isValid() && url.scheme().size() > 1)
        return url;
    return QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
}

} // namespace

void ShellOpen(const QString &file, const QString &parameters)
{
    const QFileInfo info(file);
    if (info.isFile() && info.isExecutable()) {
        const QStringList arguments =
            parameters.isEmpty() ? QStringList() : QStringList{parameters};
        QProcess::startDetached(info.absoluteFilePath(), arguments);
        return;
    }
    // Some desktops' openers answer a missing file with an error box; nothing is shown here.
    const QUrl url = urlFor(file);
    if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile()))
        return;
    QDesktopServices::openUrl(url);
}

} // namespace quorrin
