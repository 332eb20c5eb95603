#pragma once

#include <QList>
#include <QString>

namespace quorrin {

// A running process and the file name of its executable, without directory.
struct ProcessEntry {
    quint32 processId = 0;
    QString executableName;
};

// The running processes, lowest id first. Each platform has its own implementation
// (processes_linux.cpp here); processes that end meanwhile may or may not be listed.
QList<ProcessEntry> runningProcesses();

// Asks process `processId` to end, without waiting for it. True when the request was
// delivered. Ids the platform cannot hold are refused.
bool requestTermination(quint32 processId);

} // namespace quorrin
