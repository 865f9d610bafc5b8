#include "ftp/listing/line_tests.h"

#include <gtest/gtest.h>

namespace taskhaul::ftp {
namespace {

TEST(ListingLineTests, PermissionsField)
{
    for (const char* text : { "drwxr-xr-x", "-rw-r--r--", "lrwxrwxrwx", "crw-rw-rw-+", "brw-------1",
             "-rwsr-sr-t", "-rwSr-Sr-T", "DRWXR-XR-X", "----------", "drwxrwxrwx 2 a b",
             // the owner's and group's alone, as fax servers print them
             "-rw-r--", "drwxr-x 2 fax", "-rw----\t1" })
        EXPECT_TRUE(isPermissionsField(text)) << text;
    for (const char* text : { "", "drwxr-xr-", "frw-r--r--", "drwxr-xr-q", "d--x--l---", "total 12",
             "123456789012", "-rw-r-", "-rw-r--x", "------- ---- --", "frw-r--" })
        EXPECT_FALSE(isPermissionsField(text)) << text;
}

// Each of the ten positions has its own set of characters, compared upper-cased.
TEST(ListingLineTests, PermissionsFieldCharactersByPosition)
{
    struct Case {
        int position; // 1-based
        char accepted;
        char refused;
    };
    const Case cases[] = {
        { 1, 'l', 'f' },
        { 2, 'r', 'a' },
        { 3, 'a', 'h' },
        { 4, 'x', 'a' },
        { 5, 'h', 'a' },
        { 6, 'x', 'y' },
        { 7, 'y', 'a' },
        { 8, 'a', 'y' },
        { 9, 't', 'h' },
        { 10, 'T', 'y' },
    };
    for (const Case& c : cases) {
        std::string text = "----------";
        text[std::size_t(c.position - 1)] = c.accepted;
        EXPECT_TRUE(isPermissionsField(text)) << text;
        text[std::size_t(c.position - 1)] = c.refused;
        EXPECT_FALSE(isPermissionsField(text)) << text;
    }
}

TEST(ListingLineTests, TotalLinesAndSubfolderBanners)
{
    EXPECT_TRUE(isTotalLine("total 123"));
    EXPECT_TRUE(isTotalLine("TOTAL"));
    EXPECT_FALSE(isTotalLine("total:")); // that is a folder named "total"
    EXPECT_FALSE(isTotalLine("tota"));
    EXPECT_FALSE(isTotalLine("Gesamt 4"));

    EXPECT_TRUE(isSubfolderBanner("./sub dir:"));
    EXPECT_TRUE(isSubfolderBanner(":"));
    EXPECT_FALSE(isSubfolderBanner("drwxr-xr-x 2 u g 1 Jan 1 2020 odd:"));
    EXPECT_FALSE(isSubfolderBanner("./sub"));
    EXPECT_FALSE(isSubfolderBanner(""));
}

TEST(ListingLineTests, WordsSplitAtRunsOfBlanks)
{
    using Words = std::vector<std::string_view>;
    EXPECT_EQ(splitWords("  a  bb   c "), (Words { "a", "bb", "c" }));
    EXPECT_EQ(splitWords("a\tb"), (Words { "a\tb" })); // only blanks separate
    EXPECT_EQ(splitWords("   "), Words {});
}

TEST(ListingLineTests, MonthNamesAndTwoDigitYears)
{
    EXPECT_EQ(monthFromName("Jan"), 1);
    EXPECT_EQ(monthFromName("sep"), 9);
    EXPECT_EQ(monthFromName("DEC"), 12);
    EXPECT_EQ(monthFromName("Okt"), 0);
    EXPECT_EQ(monthFromName("June"), 0);
    EXPECT_EQ(monthFromName(""), 0);

    struct Case {
        int year, currentYear, expected;
    };
    for (const Case c : { Case { 99, 2024, 1999 }, Case { 51, 2024, 1951 }, Case { 50, 2024, 2050 },
             Case { 0, 2024, 2000 }, Case { 24, 2099, 2024 }, Case { 99, 2100, 2099 },
             Case { 1000, 2024, 1000 }, Case { 999, 2024, 2899 } })
        EXPECT_EQ(expandTwoDigitYear(c.year, c.currentYear), c.expected) << c.year << " in " << c.currentYear;
}

TEST(ListingLineTests, FirstContentLineSkipsBlankAndSeparatorLines)
{
    const ListingLines lines = { "", " \t ", "----+----", "\x96\x96 -", "Name  Size", "x" };
    ASSERT_NE(firstContentLine(lines), nullptr);
    EXPECT_EQ(*firstContentLine(lines), "Name  Size");
    EXPECT_EQ(firstContentLine({ "", "---" }), nullptr);
}

TEST(ListingLineTests, NumbersAndTrimming)
{
    // The digit tests and 64-bit parsing are base's (tests/base); here the int bounds.
    EXPECT_EQ(toIntOr("99999999999", 7), 7);
    EXPECT_EQ(toIntOr("-2147483648", 7), -2147483648LL);
    EXPECT_EQ(toIntOr("2147483648", 7), 7);
    EXPECT_EQ(toIntOr("+12", 7), 12);
    EXPECT_EQ(toIntOr("1 2", 7), 7);
    EXPECT_EQ(trimmed("\t a b \r"), "a b");
}

} // namespace
} // namespace taskhaul::ftp
