// The date and time pieces the less common listing formats share: where a wrong
// hour or year would quietly mislabel every file of a listing.

#include "ftp/listing/family_support.h"

#include <gtest/gtest.h>

namespace taskhaul::ftp::family {
namespace {

TEST(FamilySupport, TimesOfDayWithAndWithoutClockHalves)
{
    struct Case {
        std::string_view text;
        std::optional<TimeOfDay> time;
    };
    const Case cases[] = {
        { "23:59", TimeOfDay { 23, 59, 0 } },
        { "1:29:15", TimeOfDay { 1, 29, 15 } },
        { "10:30:13.64", TimeOfDay { 10, 30, 13 } }, // hundredths dropped
        { "12:09AM", TimeOfDay { 0, 9, 0 } }, // midnight hour
        { "12:09PM", TimeOfDay { 12, 9, 0 } }, // noon hour
        { "9:30p", TimeOfDay { 21, 30, 0 } },
        { "03:47pm", TimeOfDay { 15, 47, 0 } },
        { "13:00PM", std::nullopt },
        { "0:10AM", std::nullopt },
        { "24:00", std::nullopt },
        { "12:60", std::nullopt },
        { "1026", std::nullopt },
        { "1:2:3:4", std::nullopt },
        { "AM", std::nullopt },
        { "", std::nullopt },
    };
    for (const Case& c : cases) {
        const auto time = parseTime(c.text);
        ASSERT_EQ(time.has_value(), c.time.has_value()) << c.text;
        if (time) {
            EXPECT_TRUE(time->hour == c.time->hour && time->minute == c.time->minute
                && time->second == c.time->second)
                << c.text;
        }
    }
}

TEST(FamilySupport, YearsLeftOutOrShortened)
{
    const ListDateTime today { 2026, 6, 15, 12, 0, 0, 0 };
    EXPECT_EQ(recentYear(6, 15, today), 2026); // today itself
    EXPECT_EQ(recentYear(6, 16, today), 2025); // tomorrow cannot be meant
    EXPECT_EQ(recentYear(1, 1, today), 2026);
    EXPECT_EQ(recentYear(12, 31, today), 2025);

    EXPECT_EQ(wholeYear(97, 2026), 1997);
    EXPECT_EQ(wholeYear(4, 2026), 2004);
    EXPECT_EQ(wholeYear(100, 2026), 2000); // years counted from 1900
    EXPECT_EQ(wholeYear(103, 2026), 2003);
    EXPECT_EQ(wholeYear(1998, 2026), 1998);
}

TEST(FamilySupport, FieldsSplitAtBlanksAndTabs)
{
    EXPECT_EQ(fields(" a\tb  c "), (std::vector<std::string_view> { "a", "b", "c" }));
    EXPECT_EQ(afterFields("  1  2   name with  blanks  ", 2), "name with  blanks");
    EXPECT_EQ(afterFields("1 2", 5), "");
    EXPECT_FALSE(makeDateTime(2023, 2, 29).has_value());
    EXPECT_TRUE(makeDateTime(2024, 2, 29).has_value());
    EXPECT_EQ(parseSize("1,048,576"), 1048576);
    EXPECT_FALSE(parseSize("12k").has_value());
    EXPECT_FALSE(parseSize(",12").has_value());
}

} // namespace
} // namespace taskhaul::ftp::family
