#include "transfer/calendar.h"
#include "transfer/file_template.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul {
namespace {

LocalDateTime At(int year, int month, int day, int hour = 12, int minute = 0, int second = 0)
{
    return { year, month, day, hour, minute, second };
}

struct ExpandCase {
    const char* nameTemplate;
    LocalDateTime now;
    int sequence;
    const char* expected;
};

void PrintTo(const ExpandCase& c, std::ostream* out)
{
    *out << '"' << c.nameTemplate << "\" at " << c.now.year << '-' << c.now.month << '-' << c.now.day << ' '
         << c.now.hour << ':' << c.now.minute << ':' << c.now.second << " seq " << c.sequence;
}

class Expand : public ::testing::TestWithParam<ExpandCase> { };

TEST_P(Expand, GivesTheExpectedName)
{
    const ExpandCase& c = GetParam();
    EXPECT_EQ(ExpandFileTemplate(c.nameTemplate, c.now, c.sequence), c.expected);
}

// Every field at one moment whose parts all differ and need a leading zero.
const LocalDateTime kMarch5 = At(2024, 3, 5, 7, 8, 9);

INSTANTIATE_TEST_SUITE_P(Fields, Expand,
    ::testing::Values(ExpandCase { "[yyyy]", kMarch5, 0, "2024" }, ExpandCase { "[yy]", kMarch5, 0, "24" },
        ExpandCase { "[MM]", kMarch5, 0, "03" }, ExpandCase { "[M]", kMarch5, 0, "3" },
        ExpandCase { "[dd]", kMarch5, 0, "05" }, ExpandCase { "[d]", kMarch5, 0, "5" },
        ExpandCase { "[HH]", kMarch5, 0, "07" }, ExpandCase { "[H]", kMarch5, 0, "7" },
        ExpandCase { "[mm]", kMarch5, 0, "08" }, ExpandCase { "[m]", kMarch5, 0, "8" },
        ExpandCase { "[ss]", kMarch5, 0, "09" }, ExpandCase { "[s]", kMarch5, 0, "9" },
        ExpandCase { "[seq]", kMarch5, 7, "7" }, ExpandCase { "[seq]", kMarch5, 0, "0" },
        ExpandCase { "[seq]", kMarch5, 999999, "999999" },
        ExpandCase { "[seq]", kMarch5, 1234567, "999999" }, // clamped as the field is
        ExpandCase { "[seq]", kMarch5, -3, "0" },
        ExpandCase { "[HH][H][mm][m][ss][s]", At(2024, 11, 25, 23, 59, 58), 0, "232359595858" },
        ExpandCase { "[MM][M][dd][d]", At(2024, 11, 25), 0, "11112525" },
        ExpandCase { "[HH]:[mm]", At(2024, 1, 2, 0, 0, 0), 0, "00:00" },
        // Real four-digit years, also past 2049; two digits stay the last two.
        ExpandCase { "[yyyy] [yy]", At(2050, 6, 1), 0, "2050 50" },
        ExpandCase { "[yyyy] [yy]", At(1999, 6, 1), 0, "1999 99" },
        ExpandCase { "[yyyy] [yy]", At(2100, 6, 1), 0, "2100 00" },
        ExpandCase { "[yyyy] [yy]", At(2007, 6, 1), 0, "2007 07" }));

// Text around and between the fields is copied as it stands.
INSTANTIATE_TEST_SUITE_P(Text, Expand,
    ::testing::Values(ExpandCase { "", kMarch5, 0, "" }, ExpandCase { "plain.txt", kMarch5, 0, "plain.txt" },
        ExpandCase { "data_[yyyy]*.csv", kMarch5, 0, "data_2024*.csv" },
        ExpandCase { "log?[dd].*", kMarch5, 0, "log?05.*" },
        // Names are case-sensitive; anything else in brackets is not a field.
        ExpandCase { "[Mm]", kMarch5, 0, "[Mm]" }, ExpandCase { "[x]", kMarch5, 0, "[x]" },
        ExpandCase { "[YYYY]", kMarch5, 0, "[YYYY]" }, ExpandCase { "[ MM]", kMarch5, 0, "[ MM]" },
        ExpandCase { "[]", kMarch5, 0, "[]" }, ExpandCase { "[seq", kMarch5, 0, "[seq" },
        // Lone brackets and fields inside brackets.
        ExpandCase { "[", kMarch5, 0, "[" }, ExpandCase { "]", kMarch5, 0, "]" },
        ExpandCase { "][", kMarch5, 0, "][" }, ExpandCase { "[[MM]]", kMarch5, 0, "[03]" },
        ExpandCase { "[[yyyy]", kMarch5, 0, "[2024" }, ExpandCase { "[yyyy]]", kMarch5, 0, "2024]" },
        ExpandCase { "[M[dd]", kMarch5, 0, "[M05" },
        // Longer names are not mistaken for shorter ones and vice versa.
        ExpandCase { "[MM][M][M][MM]", kMarch5, 0, "033303" },
        ExpandCase { "[seq][s][seq]", kMarch5, 12, "12912" },
        ExpandCase { "[yyyy][yy][yyy]", kMarch5, 0, "202424[yyy]" },
        ExpandCase { "[dd][d][pdd][pd]", kMarch5, 0, "055044" },
        // A value is never read again as part of a field.
        ExpandCase { "[[d]M]", At(2024, 3, 5), 0, "[5M]" }));

// Each combination of previous-date kinds, on days where a wrong order of steps
// or a missing step shows.
INSTANTIATE_TEST_SUITE_P(PreviousDate, Expand,
    ::testing::Values(
        // day, month and year: 30 March, then 29 February 2024, then 28 February 2023
        ExpandCase { "[pyyyy][pMM][pdd]", At(2024, 3, 31), 0, "20230228" },
        ExpandCase { "[pyy][pM][pd]", At(2024, 1, 1), 0, "221130" },
        // day and month
        ExpandCase { "[pMM][pdd]", At(2024, 3, 31), 0, "0229" },
        ExpandCase { "[pdd][pMM]", At(2024, 3, 15), 0, "1402" },
        ExpandCase { "[pMM][pdd]", At(2024, 1, 1), 0, "1130" },
        // day and year: 29 February 2024, then 28 February 2023
        ExpandCase { "[pyyyy][pdd]", At(2024, 3, 1), 0, "202328" },
        ExpandCase { "[pyyyy][pd]", At(2025, 1, 1), 0, "202331" },
        // month and year
        ExpandCase { "[pMM][pyy]", At(2024, 1, 15), 0, "1222" },
        ExpandCase { "[pyyyy][pM]", At(2024, 7, 31), 0, "20236" },
        // month only
        ExpandCase { "[pMM]", At(2024, 3, 31), 0, "02" }, ExpandCase { "[pM]", At(2024, 1, 10), 0, "12" },
        // year only
        ExpandCase { "[pyy]", At(2024, 2, 29), 0, "23" }, ExpandCase { "[pyyyy]", At(2000, 1, 1), 0, "1999" },
        // day only: yesterday, with the current month and year promoted on the first
        ExpandCase { "[yyyy][MM][pdd]", At(2024, 3, 15), 0, "20240314" },
        ExpandCase { "[yyyy][MM][pdd]", At(2024, 3, 1), 0, "20240229" },
        ExpandCase { "[yyyy][MM][pdd]", At(2023, 3, 1), 0, "20230228" },
        ExpandCase { "[yyyy][MM][pdd]", At(2025, 1, 1), 0, "20241231" },
        ExpandCase { "[yy][M][pd]", At(2024, 5, 1), 0, "24430" },
        ExpandCase { "[yy][M][pd]", At(2025, 1, 1), 0, "241231" },
        ExpandCase { "[pd]", At(2024, 3, 1, 0, 0, 0), 0, "29" },
        // No previous-date kind: nothing is stepped back or promoted.
        ExpandCase { "[yyyy][MM][dd]", At(2024, 3, 1), 0, "20240301" }));

// Promotion happens only on the first of a month, only when the day is the only
// previous-date kind, and only to month and year fields.
INSTANTIATE_TEST_SUITE_P(Promotion, Expand,
    ::testing::Values(ExpandCase { "[yyyy][MM][pdd]", At(2024, 3, 2), 0, "20240301" },
        ExpandCase { "[yy][MM][pdd]", At(2025, 2, 1), 0, "250131" }, // a month that is not January
        ExpandCase { "[MM][pdd][pMM]", At(2024, 3, 1), 0, "032901" }, // month kind present: no promotion
        ExpandCase {
            "[yyyy][pdd][pyyyy]", At(2025, 1, 1), 0, "2025312023" }, // year kind present: no promotion
        ExpandCase { "[HH][dd][d][pdd]", At(2024, 3, 1, 6), 0, "0601129" }, // other fields keep today
        // Text that only looks like the start of a month or year field is left alone.
        ExpandCase { "[Mon]_[MM][pdd]", At(2024, 3, 1), 0, "[Mon]_0229" },
        ExpandCase { "[yyy][M[pdd]", At(2025, 1, 1), 0, "[yyy][M31" }));

// Expansion as a list of steps: find the previous-date kinds, step the date back,
// then replace each field name in a fixed order, every occurrence in one pass.
// (No promotion: the moments used below are never the first of a month.)
std::string ExpandFieldByField(std::string text, const LocalDateTime& now, int sequence)
{
    const bool day = text.find("[pd") != std::string::npos;
    const bool month = text.find("[pM") != std::string::npos;
    const bool year = text.find("[pyy") != std::string::npos;
    calendar::Date previous { now.year, now.month, now.day };
    if (day)
        previous = calendar::DayBack(previous);
    if (month)
        previous = calendar::MonthBack(previous);
    if (year)
        previous = calendar::YearBack(previous);

    const auto two = [](int n) { return (n < 10 ? "0" : "") + std::to_string(n); };
    const std::vector<std::pair<std::string, std::string>> fields = {
        { "[yyyy]", std::to_string(now.year) },
        { "[yy]", two(now.year % 100) },
        { "[MM]", two(now.month) },
        { "[M]", std::to_string(now.month) },
        { "[dd]", two(now.day) },
        { "[d]", std::to_string(now.day) },
        { "[pyyyy]", std::to_string(previous.year) },
        { "[pyy]", two(previous.year % 100) },
        { "[pMM]", two(previous.month) },
        { "[pM]", std::to_string(previous.month) },
        { "[pdd]", two(previous.day) },
        { "[pd]", std::to_string(previous.day) },
        { "[HH]", two(now.hour) },
        { "[H]", std::to_string(now.hour) },
        { "[mm]", two(now.minute) },
        { "[m]", std::to_string(now.minute) },
        { "[ss]", two(now.second) },
        { "[seq]", std::to_string(sequence) },
        { "[s]", std::to_string(now.second) },
    };
    for (const auto& [name, value] : fields) {
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    }
    return text;
}

TEST(Expand, OnePassGivesTheSameAsReplacingFieldByField)
{
    // Pieces that make fields, near-fields, nested and lone brackets.
    const std::vector<std::string> pieces
        = { "[", "]", "[", "]", "M", "MM", "d", "dd", "p", "y", "yy", "s", "seq", "H", "m", "x", "*", "?",
              ".", "[M]", "[MM]", "[d]", "[pdd]", "[pM]", "[pyy]", "[yyyy]", "[seq]", "[s]", "[mm]", "[HH]" };
    const LocalDateTime moments[] = { At(2024, 3, 31, 9, 5, 7), At(2024, 2, 29, 23, 59, 59),
        At(2025, 1, 15, 0, 0, 0), At(2023, 12, 2, 12, 30, 45) };
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
    std::uniform_int_distribution<int> count(0, 12);
    for (int n = 0; n < 20000; ++n) {
        std::string nameTemplate;
        for (int k = count(random); k > 0; --k)
            nameTemplate += pieces[piece(random)];
        const LocalDateTime& now = moments[n % 4];
        ASSERT_EQ(
            ExpandFileTemplate(nameTemplate, now, n % 1000), ExpandFieldByField(nameTemplate, now, n % 1000))
            << '"' << nameTemplate << '"';
    }
}

TEST(TemplateCheckMessage, PrefixesTheExpansion)
{
    EXPECT_EQ(TemplateCheckMessage("in_[yyyy][MM][dd].csv", kMarch5, 0), "The file name is: in_20240305.csv");
    EXPECT_EQ(TemplateCheckMessage("", kMarch5, 0), "The file name is: ");
}

TEST(Calendar, LeapYears)
{
    for (int year : { 1996, 2000, 2024, 2400 })
        EXPECT_TRUE(calendar::IsLeapYear(year)) << year;
    for (int year : { 1900, 2023, 2100, 2200 })
        EXPECT_FALSE(calendar::IsLeapYear(year)) << year;
    EXPECT_EQ(calendar::DaysInMonth(2024, 2), 29);
    EXPECT_EQ(calendar::DaysInMonth(1900, 2), 28);
    EXPECT_EQ(calendar::DaysInMonth(2023, 4), 30);
    EXPECT_EQ(calendar::DaysInMonth(2023, 12), 31);
}

TEST(Calendar, StepsBackAcrossMonthAndYearEnds)
{
    using calendar::Date;
    struct Step {
        Date (*step)(Date);
        Date from;
        Date to;
    };
    const Step steps[] = {
        { calendar::DayBack, { 2024, 3, 15 }, { 2024, 3, 14 } },
        { calendar::DayBack, { 2024, 3, 1 }, { 2024, 2, 29 } },
        { calendar::DayBack, { 2100, 3, 1 }, { 2100, 2, 28 } },
        { calendar::DayBack, { 2024, 5, 1 }, { 2024, 4, 30 } },
        { calendar::DayBack, { 2024, 1, 1 }, { 2023, 12, 31 } },
        { calendar::MonthBack, { 2024, 3, 31 }, { 2024, 2, 29 } },
        { calendar::MonthBack, { 2023, 3, 30 }, { 2023, 2, 28 } },
        { calendar::MonthBack, { 2024, 7, 31 }, { 2024, 6, 30 } },
        { calendar::MonthBack, { 2024, 8, 31 }, { 2024, 7, 31 } },
        { calendar::MonthBack, { 2024, 1, 31 }, { 2023, 12, 31 } },
        { calendar::YearBack, { 2024, 2, 29 }, { 2023, 2, 28 } },
        { calendar::YearBack, { 2001, 2, 28 }, { 2000, 2, 28 } },
        { calendar::YearBack, { 2024, 12, 31 }, { 2023, 12, 31 } },
    };
    for (const Step& s : steps) {
        const Date got = s.step(s.from);
        EXPECT_EQ(got, s.to) << s.from.year << '-' << s.from.month << '-' << s.from.day << " gave "
                             << got.year << '-' << got.month << '-' << got.day;
    }
}

TEST(AppendSlash, AddsASlashToAnyTextButEmpty)
{
    EXPECT_EQ(AppendSlash(""), "");
    EXPECT_EQ(AppendSlash("pub"), "pub/");
    EXPECT_EQ(AppendSlash("/pub/in"), "/pub/in/");
    EXPECT_EQ(AppendSlash("/"), "//");
}

} // namespace
} // namespace taskhaul
