#include "app/session_end.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul {

namespace {

int g_pipe[2] = { -1, -1 };

extern "C" void onSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(g_pipe[0], &byte, 1);
}

} // namespace

SessionEndSignals::SessionEndSignals(std::function<void()> onEnd, QObject* parent)
    : QObject(parent)
    , onEnd_(std::move(onEnd))
{
    if (g_pipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    notifier_ = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_pipe[1], &byte, 1);
        if (onEnd_)
            onEnd_();
    });
    struct sigaction action { };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signal, &action, nullptr);
}

SessionEndSignals::~SessionEndSignals()
{
    if (!notifier_)
        return;
    struct sigaction action { };
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal : { SIGTERM, SIGHUP, SIGINT })
        ::sigaction(signal, &action, nullptr);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

} // namespace taskhaul
