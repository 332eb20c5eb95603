#include "terminationsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace quorrin {
namespace {

constexpr int Signals[] = {SIGTERM, SIGINT, SIGHUP};

int wakeUp[2] = {-1, -1};

// Only what is safe in a signal handler: one byte down the socket, never waiting for room
// (a full socket already holds a wake-up), and errno as the interrupted code left it.
void signalled(int signal)
{
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::send(wakeUp[0], &byte, 1, MSG_DONTWAIT);
    errno = saved;
}

// Lives as long as the application: the handlers go with it, and a signal then ends the
// process as it would have without them.
class SignalListener : public QObject {
public:
    SignalListener(std::function<void()> handler, QObject *parent)
        : QObject(parent)
        , m_handler(std::move(handler))
        , m_notifier(wakeUp[1], QSocketNotifier::Read, this)
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, &SignalListener::drain);
        struct sigaction action {};
        action.sa_handler = signalled;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int signal : Signals)
            ::sigaction(signal, &action, nullptr);
    }

    ~SignalListener() override
    {
        for (const int signal : Signals)
            ::signal(signal, SIG_DFL);
        m_notifier.setEnabled(false);
        for (int &fd : wakeUp)
            ::close(std::exchange(fd, -1));
    }

private:
    // All the signals that came since the last time ask for one end.
    void drain()
    {
        char bytes[64];
        while (::recv(wakeUp[1], bytes, sizeof bytes, MSG_DONTWAIT) > 0) {
        }
        m_handler();
    }

    std::function<void()> m_handler;
    QSocketNotifier m_notifier;
};

} // namespace

void onTerminationSignal(std::function<void()> handler)
{
    if (wakeUp[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeUp) != 0)
        return;
    new SignalListener(std::move(handler), QCoreApplication::instance());
}

} // namespace quorrin
