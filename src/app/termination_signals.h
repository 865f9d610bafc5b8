#pragma once

namespace taskhaul {

// SIGTERM, SIGINT and SIGHUP, caught for as long as this object lives, for a
// program without an event loop: the handler only records the signal, and the
// program looks at received() where it can act on it safely.
class TerminationSignals {
public:
    TerminationSignals();
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    // The number of the first signal received, or 0.
    int received() const;
};

} // namespace taskhaul
