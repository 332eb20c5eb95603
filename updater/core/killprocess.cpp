#include "killprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <limits>

namespace quorrin::updater {
namespace {

bool isSearchableName(const QString &exeName)
{
    return !exeName.isEmpty() && !exeName.contains(QLatin1Char('/')) &&
           !exeName.contains(QLatin1Char('\\'));
}

// The directory as the kernel names a running executable's: absolute, links resolved.
QString resolvedDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return {};
    const QString canonical = QFileInfo(directory).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(directory).absoluteFilePath())
                               : canonical;
}

} // namespace

quint32 findProcessInList(const QList<ProcessEntry> &processes, const QString &exeName,
                          const QString &directory, quint32 ownProcessId, qint64 userId)
{
    if (!isSearchableName(exeName) || directory.isEmpty() || userId < 0)
        return 0;
    const QString wanted = QDir::cleanPath(directory);
    quint32 found = 0;
    for (const ProcessEntry &process : processes) {
        if (process.processId == 0 || process.processId == ownProcessId)
            continue;
        if (process.realUserId != userId || process.executableDirectory.isEmpty() ||
            QDir::cleanPath(process.executableDirectory) != wanted)
            continue;
        if (QString::compare(process.executableName, exeName, Qt::CaseInsensitive) != 0)
            continue;
        if (found == 0 || process.processId < found)
            found = process.processId;
    }
    return found;
}

quint32 FindProcessByName(const QString &exeName, const QString &directory)
{
    const QString resolved = resolvedDirectory(directory);
    if (!isSearchableName(exeName) || resolved.isEmpty())
        return 0;
    return findProcessInList(runningProcesses(), exeName, resolved,
                             quint32(QCoreApplication::applicationPid()), currentRealUserId());
}

bool isSingleProcessId(quint32 processId)
{
    return processId != 0 && processId <= quint32(std::numeric_limits<qint32>::max());
}

bool TerminateProcessById(quint32 processId)
{
    return isSingleProcessId(processId) && requestTermination(processId);
}

bool KillProcessByName(const QString &exeName, const QString &directory,
                       const ProcessTerminator &terminate)
{
    const quint32 processId = FindProcessByName(exeName, directory);
    if (processId == 0)
        return false;
    terminate(processId);
    return true;
}

} // namespace quorrin::updater
