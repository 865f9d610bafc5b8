#include "transfer/calendar.h"

#include <algorithm>

namespace taskhaul::calendar {

Date DayBack(Date date)
{
    if (date.day > 1)
        return { date.year, date.month, date.day - 1 };
    const Date monthBefore
        = date.month > 1 ? Date { date.year, date.month - 1, 1 } : Date { date.year - 1, 12, 1 };
    return { monthBefore.year, monthBefore.month, DaysInMonth(monthBefore.year, monthBefore.month) };
}

Date MonthBack(Date date)
{
    const int year = date.month > 1 ? date.year : date.year - 1;
    const int month = date.month > 1 ? date.month - 1 : 12;
    return { year, month, std::min(date.day, DaysInMonth(year, month)) };
}

Date YearBack(Date date)
{
    const int year = date.year - 1;
    return { year, date.month, std::min(date.day, DaysInMonth(year, date.month)) };
}

} // namespace taskhaul::calendar
