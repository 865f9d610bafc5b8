#pragma once

#include "scheduler/scheduler_clock.h"
#include "scheduler/scheduler_timer.h"

#include <functional>

namespace taskhaul {

// The every-N-minutes timer. It keeps a deadline instead of a period: the k-th
// tick is due at Start + k x period on the elapsed clock, so the length of a run
// never shifts the schedule. The underlying one-shot timer is re-armed in steps
// of at most kStepMs, which lets periods of up to 366 days work and lets a tick
// that fell due while the computer slept come soon after it wakes. A tick that
// could not be delivered on time is delivered once, late; ticks missed meanwhile
// do not pile up, the next one is the next due time after now.
class IntervalTimer {
public:
    static constexpr qint64 kStepMs = 60 * 1000;

    IntervalTimer(SchedulerTimer& timer, const SchedulerClock& clock);
    IntervalTimer(const IntervalTimer&) = delete;
    IntervalTimer& operator=(const IntervalTimer&) = delete;

    // The first tick comes one period from now.
    void start(qint64 periodMs);
    void stop();
    bool isActive() const { return active_; }
    qint64 periodMs() const { return periodMs_; }
    // When the next tick is due, on the elapsed clock.
    qint64 dueMs() const { return dueMs_; }

    // Runs at each tick; it may stop or restart the timer, and further ticks may
    // arrive while it runs (the FTP client lets the event loop run).
    std::function<void()> onTick;

private:
    void arm();
    void timerFired();

    SchedulerTimer& timer_;
    const SchedulerClock& clock_;
    bool active_ = false;
    qint64 anchorMs_ = 0;
    qint64 periodMs_ = 0;
    qint64 dueMs_ = 0;
};

} // namespace taskhaul
