#pragma once

#include <QDateTime>

namespace taskhaul {

// The two clocks the scheduler reads. Tests swap in a simulated clock and can
// run a year of schedule in moments.
class SchedulerClock {
public:
    virtual ~SchedulerClock() = default;
    // The local wall-clock date and time. It jumps when daylight saving starts or
    // ends and when the clock is set; the daily time is compared against it.
    virtual QDateTime localNow() const = 0;
    // Milliseconds on a clock that never goes back and keeps counting while the
    // computer sleeps; interval runs are counted on it.
    virtual qint64 elapsedMs() const = 0;
};

// The computer's clocks.
class SystemSchedulerClock : public SchedulerClock {
public:
    QDateTime localNow() const override;
    qint64 elapsedMs() const override;
};

} // namespace taskhaul
