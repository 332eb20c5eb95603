#include "terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace quorrin {
namespace {

int wakeUp[2] = {-1, -1};

// Only what is safe in a signal handler: one byte down the pipe.
void signalled(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
}

} // namespace

void onTerminationSignal(std::function<void()> handler)
{
    if (wakeUp[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeUp) != 0)
        return;
    auto *notifier =
        new QSocketNotifier(wakeUp[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [handler = std::move(handler)] {
                         char byte = 0;
                         [[maybe_unused]] const ssize_t read = ::read(wakeUp[1], &byte, 1);
                         handler();
                     });
    struct sigaction action {};
    action.sa_handler = signalled;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace quorrin
