#pragma once

#include <QList>
#include <QString>

namespace quorrin::updater {

// A running process: the file name of its executable, the directory that holds that file,
// and the user it runs for.
struct ProcessEntry {
    quint32 processId = 0;
    QString executableName;
    QString executableDirectory; // absolute; empty when the executable cannot be read
    qint64 realUserId = -1;      // -1 when unknown
};

// The running processes, lowest id first. Each platform has its own implementation
// (processes_linux.cpp here); processes that end meanwhile may or may not be listed.
QList<ProcessEntry> runningProcesses();

// The real user id of this process.
qint64 currentRealUserId();

// Asks process `processId` to end, without waiting for it. True when the request was
// delivered. Ids the platform cannot hold are refused.
bool requestTermination(quint32 processId);

} // namespace quorrin::updater
