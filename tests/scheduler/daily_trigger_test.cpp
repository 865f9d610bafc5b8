#include "scheduler/daily_trigger.h"

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

QDateTime at(int hour, int minute, int second, int ms, int day = 15)
{
    return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second, ms), Qt::UTC);
}

TEST(DailyTrigger, DueWhenTheDailySecondWasReachedSinceThePreviousTick)
{
    struct Case {
        const char* what;
        QDateTime previous;
        QDateTime now;
        bool due;
    };
    const QTime daily(14, 30, 0);
    const Case cases[] {
        { "tick inside the second", at(14, 29, 59, 400), at(14, 30, 0, 400), true },
        { "the second skipped by jitter", at(14, 29, 59, 980), at(14, 30, 1, 10), true },
        { "tick on the exact start", at(14, 29, 59, 0), at(14, 30, 0, 0), true },
        { "second already reached at the previous tick", at(14, 30, 0, 10), at(14, 30, 0, 990), false },
        { "a later second", at(14, 30, 0, 500), at(14, 30, 1, 500), false },
        { "an earlier second", at(14, 29, 58, 500), at(14, 29, 59, 500), false },
        { "gap of 4.9 s still counts", at(14, 29, 56, 0), at(14, 30, 0, 900), true },
        { "gap of 5 s is not made up", at(14, 29, 56, 0), at(14, 30, 1, 0), false },
        { "clock put back over it", at(14, 30, 1, 0), at(14, 29, 59, 0), false },
        { "same digits twelve hours apart", at(2, 29, 59, 500), at(2, 30, 0, 500), false },
    };
    for (const Case& c : cases) {
        DailyTrigger trigger;
        trigger.restart(c.previous);
        EXPECT_EQ(trigger.tick(c.now, 0, daily), c.due) << c.what;
    }
}

TEST(DailyTrigger, MidnightIsCrossedAcrossTheDateChange)
{
    DailyTrigger trigger;
    trigger.restart(at(23, 59, 59, 700, 15));
    EXPECT_TRUE(trigger.tick(at(0, 0, 0, 700, 16), 0, QTime(0, 0, 0)));
}

TEST(DailyTrigger, FirstTickAfterStartCountsFromStart)
{
    DailyTrigger trigger;
    EXPECT_FALSE(trigger.tick(at(14, 30, 0, 500), 0, QTime(14, 30, 0))); // never started

    trigger.restart(at(14, 30, 0, 200)); // Start within the daily second itself
    EXPECT_FALSE(trigger.tick(at(14, 30, 1, 200), 1000, QTime(14, 30, 0)));
}

} // namespace
} // namespace taskhaul
