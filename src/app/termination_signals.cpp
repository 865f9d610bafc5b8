#include "app/termination_signals.h"

#include <array>
#include <csignal>

namespace taskhaul {

namespace {

volatile std::sig_atomic_t receivedSignal = 0;
constexpr std::array kSignals { SIGTERM, SIGINT, SIGHUP };
std::array<struct sigaction, kSignals.size()> previous {};

extern "C" void recordSignal(int signal)
{
    if (receivedSignal == 0)
        receivedSignal = signal;
}

} // namespace

TerminationSignals::TerminationSignals()
{
    receivedSignal = 0;
    struct sigaction action { };
    action.sa_handler = recordSignal;
    sigemptyset(&action.sa_mask);
    // Blocking calls are bounded waits that are tried again: no need to interrupt them.
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
}

int TerminationSignals::received() const
{
    return receivedSignal;
}

} // namespace taskhaul
