// Starts one command for bench_download and reports what it cost, from a process too small to
// count in the command's figures:
//   bench_spawn FD PROGRAM [ARGUMENTS...]
// Runs PROGRAM (looked up in PATH), waits for it, writes "<seconds> <peak resident KiB> <wait
// status> <CPU seconds, user and system>" on the open file descriptor FD and exits 0; exits 127
// when it cannot run it.
// Linux counts a child's peak memory from what its parent held when it forked: forked from
// bench_download, every command would count that program's own memory as its peak.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double now()
{
    timespec time{};
    ::clock_gettime(CLOCK_MONOTONIC, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 127;
    const int report = std::atoi(argv[1]);
    const double start = now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report);
        ::execvp(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child)
        return 127;
    const double seconds = now() - start;
    const auto inSeconds = [](const timeval &time) {
        return double(time.tv_sec) + double(time.tv_usec) / 1e6;
    };
    const double cpu = inSeconds(usage.ru_utime) + inSeconds(usage.ru_stime);
    return ::dprintf(report, "%.9f %ld %d %.6f\n", seconds, usage.ru_maxrss, status, cpu) > 0 ? 0
                                                                                              : 127;
}
