#include "processmeasure.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorrin::bench {
namespace {

// bench_spawn, beside this program.
std::string spawner()
{
    const QFileInfo self(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    return QFile::encodeName(self.dir().filePath(QStringLiteral("bench_spawn"))).toStdString();
}

} // namespace

ProcessCost runMeasured(const QStringList &command)
{
    // The command starts from bench_spawn, whose own memory is too small to count in its
    // figures (see spawn.cpp); bench_spawn reports them through a pipe.
    int report[2];
    ProcessCost cost;
    if (::pipe2(report, O_CLOEXEC) != 0)
        return cost;
    std::vector<std::string> arguments{spawner(), std::to_string(report[1])};
    for (const QString &argument : command)
        arguments.push_back(argument.toStdString());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::fcntl(report[1], F_SETFD, 0); // bench_spawn writes its report there
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    const bool waited = child > 0 && ::waitpid(child, &status, 0) == child;
    QByteArray text;
    char buffer[256];
    for (ssize_t got; (got = ::read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, got);
    ::close(report[0]);

    const QList<QByteArray> fields = text.trimmed().split(' ');
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || fields.size() != 4)
        return cost;
    const int commandStatus = fields[2].toInt();
    cost.seconds = fields[0].toDouble();
    cost.peakKiB = fields[1].toLong();
    cost.cpuSeconds = fields[3].toDouble();
    cost.exitCode = WIFEXITED(commandStatus) ? WEXITSTATUS(commandStatus) : -1;
    return cost;
}

} // namespace quorrin::bench
