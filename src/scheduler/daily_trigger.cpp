#include "scheduler/daily_trigger.h"

namespace taskhaul {

namespace {

constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;

// The wall-clock reading as a count of milliseconds, time zone left out: two
// readings an hour apart across a daylight-saving change differ by two hours or
// by none, as the clock on the wall does.
qint64 wallMs(const QDateTime& moment)
{
    return moment.date().toJulianDay() * kMsPerDay + moment.time().msecsSinceStartOfDay();
}

qint64 floorDiv(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

} // namespace

void DailyTrigger::restart(const QDateTime& localNow)
{
    previous_ = localNow;
}

bool DailyTrigger::tick(const QDateTime& localNow, qint64 elapsedMs, const QTime& dailyTime)
{
    const std::optional<QDateTime> previous = std::exchange(previous_, localNow);
    if (!previous || !dailyTime.isValid())
        return false;
    const qint64 before = wallMs(*previous);
    const qint64 now = wallMs(localNow);
    if (now - before < 0 || now - before >= kLongestGapMs)
        return false;

    // Whole seconds after the previous tick's second, up to and including this
    // tick's second: the seconds the clock has shown since the previous tick.
    const qint64 firstSecond = floorDiv(before, 1000) + 1;
    const qint64 lastSecond = floorDiv(now, 1000);
    const qint64 dailySecond = dailyTime.msecsSinceStartOfDay() / 1000;
    for (qint64 second = firstSecond; second <= lastSecond; ++second) {
        if (second % (kMsPerDay / 1000) != dailySecond)
            continue;
        if (lastDueSecond_ == second && elapsedMs - lastDueElapsedMs_ < kSameOccurrenceMs)
            return false;
        lastDueSecond_ = second;
        lastDueElapsedMs_ = elapsedMs;
        return true;
    }
    return false;
}

} // namespace taskhaul
