#include "base/calendar_days.h"

#include <gtest/gtest.h>

namespace taskhaul::base {
namespace {

TEST(CalendarDays, LeapYears)
{
    for (int year : { 1600, 2000, 2004, 2024, 2400 })
        EXPECT_TRUE(IsLeapYear(year)) << year;
    for (int year : { 1700, 1800, 1900, 2023, 2100 })
        EXPECT_FALSE(IsLeapYear(year)) << year;
}

TEST(CalendarDays, MonthLengths)
{
    const int lengths2023[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    for (int month = 1; month <= 12; ++month)
        EXPECT_EQ(DaysInMonth(2023, month), lengths2023[month - 1]) << month;
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 0), 0);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

} // namespace
} // namespace taskhaul::base
