#pragma once

#include "processes.h"

#include <QString>

#include <functional>

namespace quorrin {

// The module modKillProcessGood: finds a running program by its executable's file name and
// ends it. Names compare whole and ignoring case (accented letters too); a name with a
// directory, or an empty name, finds nothing. The updater's own process is never counted.

// The id of the first process, lowest id first, whose executable is named `exeName`, or 0.
quint32 FindProcessByName(const QString &exeName);

// Asks process `processId` to end (SIGTERM), without waiting for it. True when the request
// was delivered; false for 0 or an id that cannot name a single process.
bool TerminateProcessById(quint32 processId);

// Ends the first process named `exeName`. True when one was found, whether or not it could
// be ended.
bool KillProcessByName(const QString &exeName);

// The lookup of FindProcessByName over `processes`, in any order: the lowest matching id
// other than `ownProcessId`, or 0.
quint32 findProcessInList(const QList<ProcessEntry> &processes, const QString &exeName,
                          quint32 ownProcessId);

// Replaces how TerminateProcessById delivers its request, for tests; an empty function
// restores the real one.
using ProcessTerminator = std::function<bool(quint32 processId)>;
void setProcessTerminator(ProcessTerminator terminator);

} // namespace quorrin
