#include "app/termination_signals.h"

#include <array>
#include <atomic>
#include <csignal>

namespace taskhaul {

namespace {

std::atomic<int> receivedSignal { 0 };
static_assert(std::atomic<int>::is_always_lock_free);
constexpr std::array kSignals { SIGTERM, SIGINT, SIGHUP };
std::array<struct sigaction, kSignals.size()> previous {};

extern "C" void recordSignal(int signal)
{
    int none = 0;
    receivedSignal.compare_exchange_strong(none, signal);
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
