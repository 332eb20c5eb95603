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

// Asks process `processId` to end (SIGTERM), without waiting for it. True when the request
// was delivered; false for 0 or an id that cannot name a single process.
bool TerminateProcessById(quint32 processId);

// Ends the first process that FindProcessByName finds. True when one was found, whether or
// not it could be ended.
bool KillProcessByName(const QString &exeName, const QString &directory);

// KillProcessByName for a program beside this one (in QCoreApplication::applicationDirPath()).
bool KillProcessByName(const QString &exeName);

// The lookup of FindProcessByName over `processes`, in any order: the lowest matching id
// other than `ownProcessId` among the processes of `userId` in `directory` (compared as
// given, without its trailing "/"), or 0.
quint32 findProcessInList(const QList<ProcessEntry> &processes, const QString &exeName,
                          const QString &directory, quint32 ownProcessId, qint64 userId);

// Replaces how TerminateProcessById delivers its request, for tests; an empty function
// restores the real one.
using ProcessTerminator = std::function<bool(quint32 processId)>;
void setProcessTerminator(ProcessTerminator terminator);

} // namespace quorrin::updater
