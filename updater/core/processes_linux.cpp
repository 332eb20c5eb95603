// The process list and termination on Linux, read from /proc.
#include "processes.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace quorrin::updater {
namespace {

namespace fs = std::filesystem;

const QString ProcDirectory = QStringLiteral("/proc/");

// The first line of a small /proc file, without its line feed.
QByteArray readFirstLine(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray line = file.readLine(4096);
    if (line.endsWith('\n'))
        line.chop(1);
    return line;
}

// A zombie has ended and waits for its parent; no program runs in it any more.
bool isZombie(const QString &processDirectory)
{
    const QByteArray stat = readFirstLine(processDirectory + QStringLiteral("/stat"));
    const qsizetype nameEnd = stat.lastIndexOf(')');
    return nameEnd >= 0 && stat.mid(nameEnd + 1).trimmed().startsWith('Z');
}

// The kernel marks the link to an executable whose file was deleted or replaced (as when an
// installer overwrites the running program) with " (deleted)". That process still runs the
// program, so it keeps the file's name, unless a file of the marked name really exists.
fs::path withoutDeletedMark(const fs::path &target)
{
    static const std::string mark = " (deleted)";
    const std::string &text = target.native();
    std::error_code error;
    if (text.size() <= mark.size() || !text.ends_with(mark) || fs::exists(target, error))
        return target;
    return fs::path(text.substr(0, text.size() - mark.size()));
}

QString decodedName(const fs::path &path)
{
    return QFile::decodeName(path.native().c_str());
}

// The executable's file name and directory, or only the process's short name (comm) when its
// executable cannot be read (another user's process, a kernel thread); no name for a zombie.
void readExecutable(const QString &processDirectory, ProcessEntry &entry)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(
        QFile::encodeName(processDirectory + QStringLiteral("/exe")).toStdString(), error);
    if (!error) {
        const fs::path executable = withoutDeletedMark(target);
        entry.executableName = decodedName(executable.filename());
        if (executable.is_absolute())
            entry.executableDirectory = decodedName(executable.parent_path());
        return;
    }
    if (!isZombie(processDirectory))
        entry.executableName =
            QFile::decodeName(readFirstLine(processDirectory + QStringLiteral("/comm")));
}

// The first of the ids on the "Uid:" line of /proc/PID/status: the real user id.
qint64 realUserIdOf(const QString &processDirectory)
{
    QFile file(processDirectory + QStringLiteral("/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    // /proc files report no size, so atEnd() cannot be trusted: read until nothing comes.
    for (int lines = 0; lines < 64; ++lines) {
        const QByteArray line = file.readLine(4096);
        if (line.isEmpty())
            break;
        if (!line.startsWith("Uid:"))
            continue;
        bool ok = false;
        const qint64 id = line.mid(4).simplified().split(' ').value(0).toLongLong(&ok);
        return ok && id >= 0 ? id : -1;
    }
    return -1;
}

std::optional<quint32> processIdOf(const QString &entryName)
{
    bool ok = false;
    const uint id = entryName.toUInt(&ok, 10);
    if (!ok || id == 0 || !entryName.at(0).isDigit())
        return std::nullopt;
    return quint32(id);
}

} // namespace

QList<ProcessEntry> runningProcesses()
{
    QList<ProcessEntry> processes;
    std::error_code error;
    for (fs::directory_iterator it(ProcDirectory.toStdString(), error), end; !error && it != end;
         it.increment(error)) {
        const QString entryName = QFile::decodeName(it->path().filename().native().c_str());
        const std::optional<quint32> id = processIdOf(entryName);
        if (!id)
            continue;
        ProcessEntry entry;
        entry.processId = *id;
        readExecutable(ProcDirectory + entryName, entry);
        if (entry.executableName.isEmpty())
            continue;
        entry.realUserId = realUserIdOf(ProcDirectory + entryName);
        processes.append(entry);
    }
    std::sort(processes.begin(), processes.end(), [](const ProcessEntry &a, const ProcessEntry &b) {
        return a.processId < b.processId;
    });
    return processes;
}

qint64 currentRealUserId()
{
    return qint64(::getuid());
}

bool requestTermination(quint32 processId)
{
    // kill() reads 0 and negative ids as process groups or every process: never pass those.
    if (processId == 0 || processId > quint32(std::numeric_limits<pid_t>::max()))
        return false;
    return ::kill(pid_t(processId), SIGTERM) == 0;
}

} // namespace quorrin::updater
