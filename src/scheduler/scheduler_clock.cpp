#include "scheduler/scheduler_clock.h"

#include <ctime>

namespace taskhaul {

QDateTime SystemSchedulerClock::localNow() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemSchedulerClock::elapsedMs() const
{
    // CLOCK_BOOTTIME, unlike CLOCK_MONOTONIC, includes time spent suspended: a
    // run that fell due while the computer slept is then seen as due at once.
    timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

} // namespace taskhaul
