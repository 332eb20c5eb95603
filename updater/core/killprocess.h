#pragma once

#include "processes.h"

#include <QString>

#include <functional>

namespace quorrin::updater {

// The module modKillProcessGood: finds a running program by its executable's file name and
// ends it. Only a process of this user (the same real user id) whose executable lies in a
// given directory counts, so a program of the same name elsewhere, or another user's copy,
// is never touched. Names compare whole and ignoring case (accented letters too); a name
// with a directory, or an empty name, finds nothing. The updater's own process is never
// counted.

// The id of the first process, lowest id first, whose executable is `directory`/`exeName`
// (the directory compared once symbolic links are resolved), or 0.
quint32 FindProcessByName(const QString &exeName, const QString &directory);

// True when `processId` names one process: not 0, and within the signed range, past which a
// POSIX id names a process group or every process.
bool isSingleProcessId(quint32 processId);

// Asks process `processId` to end (SIGTERM), without waiting for it. True when the request
// was delivered; false for an id that is no single process's.
bool TerminateProcessById(quint32 processId);

// Something that asks a process to end as TerminateProcessById does; windows take one, so
// that tests can see what would be ended.
using ProcessTerminator = std::function<bool(quint32 processId)>;

// Ends, through `terminate`, the first process that FindProcessByName finds. True when one
// was found, whether or not it could be ended.
bool KillProcessByName(const QString &exeName, const QString &directory,
                       const ProcessTerminator &terminate = TerminateProcessById);

// The lookup of FindProcessByName over `processes`, in any order: the lowest matching id
// other than `ownProcessId` among the processes of `userId` in `directory` (compared as
// given, without its trailing "/"), or 0.
quint32 findProcessInList(const QList<ProcessEntry> &processes, const QString &exeName,
                          const QString &directory, quint32 ownProcessId, qint64 userId);

} // namespace quorrin::updater
