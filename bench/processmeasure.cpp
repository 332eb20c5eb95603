#include "processmeasure.h"

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quorrin::bench {

ProcessCost runMeasured(const QStringList &command)
{
    std::vector<std::string> arguments;
    for (const QString &argument : command)
        arguments.push_back(argument.toStdString());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    ProcessCost cost;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    if (child < 0)
        return cost;
    int status = 0;
    rusage usage{};
    // wait4 gives the child's own peak resident set, which getrusage(RUSAGE_CHILDREN) would
    // mix with that of every earlier child.
    if (::wait4(child, &status, 0, &usage) != child)
        return cost;
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.peakKiB = usage.ru_maxrss;
    cost.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return cost;
}

} // namespace quorrin::bench
