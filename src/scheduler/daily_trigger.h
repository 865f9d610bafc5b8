#pragma once

#include <QDateTime>
#include <QTime>

#include <optional>
#include <utility>

namespace taskhaul {

// Decides which tick of the one-second daily timer starts the day's run.
//
// A tick is due when the daily time (to the whole second) was reached since the
// previous tick: the wall clock crossed it, rather than merely showing it at the
// tick, because a timer of one second does not tick in every second (ticks at
// 14:29:59.98 and 14:30:01.01 skip 14:30:00). The crossing only counts when the
// wall clock moved forward by less than kLongestGapMs since the previous tick:
// after a longer gap (the computer slept, the thread was blocked, the clock
// jumped forward for daylight saving) the missed time is not made up. When the
// clock is put back the time can come round again, and then it is due again
// (the daily run happens twice on the night daylight saving ends); the same
// occurrence never counts twice, even when a small correction of the clock makes
// the ticks cross it once more.
class DailyTrigger {
public:
    static constexpr qint64 kLongestGapMs = 5000;
    // A time of day that is reached again within this much elapsed time is the
    // same occurrence; daylight saving repeats an hour after at least 30 minutes.
    static constexpr qint64 kSameOccurrenceMs = 10 * 60 * 1000;

    // Forgets the ticks before: the next interval starts at `localNow` (Start).
    void restart(const QDateTime& localNow);

    // A tick at `localNow` (wall clock) and `elapsedMs` (elapsed clock): whether
    // the run for `dailyTime` falls due now. Only the time of day of `dailyTime`
    // counts, to the whole second.
    bool tick(const QDateTime& localNow, qint64 elapsedMs, const QTime& dailyTime);

private:
    std::optional<QDateTime> previous_;
    std::optional<qint64> lastDueSecond_; // wall-clock second of the last due tick
    qint64 lastDueElapsedMs_ = 0;
};

} // namespace taskhaul
