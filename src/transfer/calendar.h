#pragma once

// Calendar steps behind the previous-date fields of name templates.

#include "base/calendar_days.h"

namespace taskhaul::calendar {

struct Date {
    int year;
    int month; // 1 to 12
    int day; // 1 to DaysInMonth(year, month)

    friend bool operator==(const Date&, const Date&) = default;
};

using base::DaysInMonth;
using base::IsLeapYear;

// The calendar day before `date`.
Date DayBack(Date date);
// The same day number in the month before, lowered to that month's last day.
Date MonthBack(Date date);
// The same month and day a year before; February 29 becomes February 28.
Date YearBack(Date date);

} // namespace taskhaul::calendar
