#pragma once

namespace taskhaul {

// A moment of the local wall clock, broken into its calendar and time-of-day
// parts. Name templates are expanded against such a value instead of reading the
// clock themselves, so one moment gives one consistent answer and tests can pick
// any day of any year.
struct LocalDateTime {
    int year = 2000; // four or more digits, e.g. 2024
    int month = 1; // 1 to 12
    int day = 1; // 1 to the month's last day
    int hour = 0; // 0 to 23
    int minute = 0; // 0 to 59
    int second = 0; // 0 to 59

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// The local clock's current moment (one reading).
LocalDateTime CurrentLocalDateTime();

} // namespace taskhaul
