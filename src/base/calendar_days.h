#pragma once

// The Gregorian calendar's month lengths.

namespace taskhaul::base {

// Divisible by 4 and not by 100, or divisible by 400.
bool IsLeapYear(int year) noexcept;
// 28 to 31 for months 1 to 12; 0 for any other month.
int DaysInMonth(int year, int month) noexcept;

} // namespace taskhaul::base
