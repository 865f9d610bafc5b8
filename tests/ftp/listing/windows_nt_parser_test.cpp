#include "ftp/listing/core_parsers.h"

#include <gtest/gtest.h>

namespace taskhaul::ftp {
namespace {

const ListDateTime kToday { 2024, 6, 15, 12, 0, 0, 0 };

TFtpListItems parseNT(const ListingLines& lines)
{
    TFtpListItems items;
    makeWindowsNTParser()->parse(lines, ListParseContext { kToday, "Windows_NT" }, items);
    return items;
}

TEST(WindowsNTListing, CheckLooksAtDateAndTheDirOrSizeColumn)
{
    struct Case {
        const char* what;
        ListingLines lines;
        bool accepted;
    };
    const Case cases[] = {
        { "folder", { "04-27-00  12:09PM       <DIR>          pub" }, true },
        { "file", { "04-06-00  03:47PM                  589 readme.txt" }, true },
        { "thousands separators", { "04-06-00  03:47PM                9,730 readme.txt" }, true },
        { "slashes", { "04/06/00  03:47PM                  589 readme.txt" }, true },
        { "year first", { "2002-09-02  19:06                 9730 readme.txt" }, true },
        { "month 13", { "13-06-00  03:47PM                  589 readme.txt" }, false },
        { "day 33", { "04-33-00  03:47PM                  589 readme.txt" }, false },
        { "size column not a number", { "04-06-00  03:47PM                 abcd readme.txt" }, false },
        { "banner and blank lines are passed over",
            { "", "sub:", "04-27-00  12:09PM       <DIR>          pub" }, true },
        { "the last qualifying line decides",
            { "04-27-00  12:09PM       <DIR>          pub", "some other text" }, true },
        { "Unix", { "-rw-r--r--   1 ftp      ftp           120 Mar  1  2020 README" }, false },
        { "Netware print services layout",
            { "04-27-00  12:09PM       <DIR>          pub", "12-31-99  11:59PM F     <DIR>          name" },
            false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(makeWindowsNTParser()->check(c.lines, "", true), c.accepted) << c.what;
}

TEST(WindowsNTListing, ParsesFoldersAndFiles)
{
    const TFtpListItems items = parseNT({
        "04-27-00  12:09PM       <DIR>          Program Files",
        "05-22-97  12:08AM                  5000000000 big.iso",
        "2002-09-02  19:06                9,730 report 2002.txt",
        "12-25-60  12:00PM       <dir>          lower case dir",
    });
    ASSERT_EQ(items.count(), 4);

    EXPECT_EQ(items[0].ItemType, ItemType::Directory);
    EXPECT_EQ(items[0].FileName, "Program Files");
    EXPECT_FALSE(items[0].SizeAvailable);
    EXPECT_EQ(items[0].ModifiedDate, (ListDateTime { 2000, 4, 27, 12, 9, 0, 0 }));

    EXPECT_EQ(items[1].ItemType, ItemType::File);
    EXPECT_EQ(items[1].FileName, "big.iso");
    EXPECT_EQ(items[1].Size, 5000000000);
    EXPECT_TRUE(items[1].SizeAvailable);
    EXPECT_EQ(items[1].ModifiedDate, (ListDateTime { 1997, 5, 22, 0, 8, 0, 0 }));

    EXPECT_EQ(items[2].FileName, "report 2002.txt");
    EXPECT_EQ(items[2].Size, 9730);
    EXPECT_EQ(items[2].ModifiedDate, (ListDateTime { 2002, 9, 2, 19, 6, 0, 0 }));

    EXPECT_EQ(items[3].ItemType, ItemType::Directory);
    EXPECT_EQ(items[3].FileName, "lower case dir");
    EXPECT_EQ(items[3].ModifiedDate, (ListDateTime { 1960, 12, 25, 12, 0, 0, 0 }));
}

// IIS prints the year with two or four digits; the rest of the line moves with it.
TEST(WindowsNTListing, TwoAndFourDigitYears)
{
    struct Case {
        std::string line;
        ItemType type;
        std::int64_t size;
        std::string name;
        ListDateTime date;
    };
    const Case cases[] = {
        { "05-26-95  10:57AM               143712 $LDR$", ItemType::File, 143712, "$LDR$",
            { 1995, 5, 26, 10, 57, 0, 0 } },
        { "05-26-1995  10:57AM               143712 $LDR$", ItemType::File, 143712, "$LDR$",
            { 1995, 5, 26, 10, 57, 0, 0 } },
        { "05-26-1995  10:57AM   143712 $LDR$", ItemType::File, 143712, "$LDR$",
            { 1995, 5, 26, 10, 57, 0, 0 } },
        { "01/22/2020  01:52PM            1,234,567 two words.txt", ItemType::File, 1234567, "two words.txt",
            { 2020, 1, 22, 13, 52, 0, 0 } },
        { "12-05-96  05:03PM       <DIR>          absoft2", ItemType::Directory, 0, "absoft2",
            { 1996, 12, 5, 17, 3, 0, 0 } },
        { "12-05-1996  05:03PM       <DIR>          absoft2", ItemType::Directory, 0, "absoft2",
            { 1996, 12, 5, 17, 3, 0, 0 } },
        { "12-05-2098  05:03PM       <DIR>          far ahead", ItemType::Directory, 0, "far ahead",
            { 2098, 12, 5, 17, 3, 0, 0 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TFtpListItems items = parseNT({ c.line });
        ASSERT_EQ(items.count(), 1);
        EXPECT_EQ(items[0].ItemType, c.type);
        EXPECT_EQ(items[0].SizeAvailable, c.type == ItemType::File);
        EXPECT_EQ(items[0].Size, c.size);
        EXPECT_EQ(items[0].FileName, c.name);
        EXPECT_EQ(items[0].ModifiedDate, c.date);
    }

    // A whole listing with four-digit years goes to this parser.
    const ListingLines listing = {
        "12-05-1996  05:03PM       <DIR>          absoft2",
        "05-26-1995  10:57AM               143712 $LDR$",
    };
    TFtpListItems items;
    ASSERT_EQ(parseListing(listing, "Windows_NT", kToday, items), "Windows NT");
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, "absoft2");
    EXPECT_EQ(items[1].FileName, "$LDR$");
    EXPECT_EQ(items[1].Size, 143712);
}

TEST(WindowsNTListing, TimesOfDay)
{
    struct Case {
        std::string time;
        int hour, minute, second, millisecond;
    };
    const Case cases[] = {
        { "12:00AM", 0, 0, 0, 0 },
        { "12:30PM", 12, 30, 0, 0 },
        { "01:05PM", 13, 5, 0, 0 },
        { "11:59pm", 23, 59, 0, 0 },
        { "17:03", 17, 3, 0, 0 },
        { "17.03.09", 17, 3, 9, 0 },
        { "17:03:09:250", 17, 3, 9, 250 },
    };
    for (const Case& c : cases) {
        const TFtpListItems items = parseNT({ "01-02-03  " + c.time + "                  1 f" });
        ASSERT_EQ(items.count(), 1);
        EXPECT_EQ(
            items[0].ModifiedDate, (ListDateTime { 2003, 1, 2, c.hour, c.minute, c.second, c.millisecond }))
            << c.time;
        EXPECT_EQ(items[0].FileName, "f") << c.time;
    }
}

TEST(WindowsNTListing, UnreadableDateOrTimeGivesZeroDateAndTheItem)
{
    for (const std::string line :
        { "02-30-03  10:00AM                  1 f", "01-02-03  25:00                  1 f",
            "01-02-03  xx:00                  1 f", "ab-cd-ef  10:00AM                  1 f" }) {
        const TFtpListItems items = parseNT({ line });
        ASSERT_EQ(items.count(), 1) << line;
        EXPECT_TRUE(items[0].ModifiedDate.isZero()) << line;
        EXPECT_EQ(items[0].FileName, "f") << line;
        EXPECT_EQ(items[0].Size, 1) << line;
    }
}

TEST(WindowsNTListing, SubfolderBannersPrefixTheNames)
{
    const TFtpListItems items = parseNT({
        "04-27-00  12:09PM                  1 top.txt",
        "",
        ".\\sub:",
        "04-27-00  12:09PM       <DIR>          inner",
        "other:",
        "04-27-00  12:09PM                  2 file",
    });
    ASSERT_EQ(items.count(), 3);
    EXPECT_EQ(items[0].FileName, "top.txt");
    EXPECT_EQ(items[1].FileName, "sub\\inner");
    EXPECT_EQ(items[2].FileName, "other\\file");
}

} // namespace
} // namespace taskhaul::ftp
