#include "killprocess.h"

#include <QCoreApplication>

#include <limits>

namespace quorrin {
namespace {

ProcessTerminator &installedTerminator()
{
    static ProcessTerminator terminator;
    return terminator;
}

bool isSearchableName(const QString &exeName)
{
    return !exeName.isEmpty() && !exeName.contains(QLatin1Char('/')) &&
           !exeName.contains(QLatin1Char('\\'));
}

} // namespace

quint32 findProcessInList(const QList<ProcessEntry> &processes, const QString &exeName,
                          quint32 ownProcessId)
{
    if (!isSearchableName(exeName))
        return 0;
    quint32 found = 0;
    for (const ProcessEntry &process : processes) {
        if (process.processId == 0 || process.processId == ownProcessId)
            continue;
        if (QString::compare(process.executableName, exeName, Qt::CaseInsensitive) != 0)
            continue;
        if (found == 0 || process.processId < found)
            found = process.processId;
    }
    return found;
}

quint32 FindProcessByName(const QString &exeName)
{
    if (!isSearchableName(exeName))
        return 0;
    return findProcessInList(runningProcesses(), exeName,
                             quint32(QCoreApplication::applicationPid()));
}

bool TerminateProcessById(quint32 processId)
{
    // Ids past the signed range would reach process groups, or every process, on POSIX.
    if (processId == 0 || processId > quint32(std::numeric_limits<qint32>::max()))
        return false;
    if (const auto &terminator = installedTerminator())
        return terminator(processId);
    return requestTermination(processId);
}

bool KillProcessByName(const QString &exeName)
{
    const quint32 processId = FindProcessByName(exeName);
    if (processId == 0)
        return false;
    TerminateProcessById(processId);
    return true;
}

void setProcessTerminator(ProcessTerminator terminator)
{
    installedTerminator() = std::move(terminator);
}

} // namespace quorrin
