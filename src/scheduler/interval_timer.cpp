#include "scheduler/interval_timer.h"

#include <algorithm>

namespace taskhaul {

IntervalTimer::IntervalTimer(SchedulerTimer& timer, const SchedulerClock& clock)
    : timer_(timer)
    , clock_(clock)
{
    timer_.setHandler([this] { timerFired(); });
}

void IntervalTimer::start(qint64 periodMs)
{
    periodMs_ = std::max<qint64>(periodMs, 1);
    anchorMs_ = clock_.elapsedMs();
    dueMs_ = anchorMs_ + periodMs_;
    active_ = true;
    arm();
}

void IntervalTimer::stop()
{
    active_ = false;
    timer_.stop();
}

void IntervalTimer::arm()
{
    const qint64 remaining = std::max<qint64>(dueMs_ - clock_.elapsedMs(), 0);
    timer_.start(std::min(remaining, kStepMs));
}

void IntervalTimer::timerFired()
{
    if (!active_)
        return;
    const qint64 now = clock_.elapsedMs();
    if (now < dueMs_) {
        arm();
        return;
    }
    // The next due time after now, still counted from Start.
    const qint64 periodsPassed = (now - anchorMs_) / periodMs_;
    dueMs_ = anchorMs_ + (periodsPassed + 1) * periodMs_;
    // Armed before the tick runs: the tick may last longer than a period.
    arm();
    if (onTick)
        onTick();
}

} // namespace taskhaul
