#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

#include <optional>

namespace taskhaul {

// The program's long time format: hours, minutes and seconds joined by ":",
// with the hour padded or not and written on a 12- or 24-hour dial as the
// user's locale asks, plus the locale's AM/PM designator where it uses one.
// The log's time stamps, the stored daily time and the scheduler's comparison
// all use it, so it is derived once and then passed around by value.
struct LongTimeFormat {
    bool leadingZeroHour = true; // "09:05:00" rather than "9:05:00"
    bool twelveHour = false; // 0 and 12 are written 12, 13..23 as 1..11
    bool designatorFirst = false; // "PM 2:05:00" rather than "2:05:00 PM"
    QString amDesignator; // before noon (12-hour dial only)
    QString pmDesignator; // from noon on (12-hour dial only)

    // The facts of the given locale (its long time pattern, AM and PM texts);
    // the locale's own time separator is ignored.
    static LongTimeFormat fromLocale(const QLocale& locale);
    // The user's own: the locale of LC_ALL, LC_TIME or LANG.
    static LongTimeFormat fromSystemLocale() { return fromLocale(QLocale::system()); }

    // Hours, minutes and seconds; milliseconds are dropped.
    QString format(const QTime& time) const;

    // Reads a time of day as `format` writes it. Also accepts hours and minutes
    // without seconds, surrounding blanks, either designator in any letter case
    // before or after the digits, and "AM"/"PM". Nothing when the text is not a
    // time of day.
    std::optional<QTime> parse(const QString& text) const;

    bool operator==(const LongTimeFormat&) const = default;
};

} // namespace taskhaul
