#include "ftp/listing/core_parsers.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>

namespace taskhaul::ftp {
namespace {

const ListDateTime kToday { 2024, 6, 15, 12, 0, 0, 0 };

TFtpListItems parseUnix(const ListingLines& lines, const ListDateTime& today = kToday)
{
    TFtpListItems items;
    makeUnixParser()->parse(lines, ListParseContext { today, "UNIX Type: L8" }, items);
    return items;
}

TFtpListItem parseOne(const std::string& line, const ListDateTime& today = kToday)
{
    const TFtpListItems items = parseUnix({ line }, today);
    EXPECT_EQ(items.count(), 1) << line;
    return items.count() > 0 ? items[0] : TFtpListItem {};
}

TEST(UnixListing, TotalLineGivesNoItem)
{
    const ListingLines lines = {
        "total 8",
        "drwxr-xr-x   2 ftp      ftp          4096 Mar  1  2020 pub",
        "-rw-r--r--   1 ftp      ftp           120 Mar  1  2020 README",
    };
    TFtpListItems items;
    ASSERT_EQ(parseListing(lines, "UNIX Type: L8", kToday, items), "Unix");
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].ItemType, ItemType::Directory);
    EXPECT_EQ(items[0].FileName, "pub");
    EXPECT_EQ(items[1].ItemType, ItemType::File);
    EXPECT_EQ(items[1].FileName, "README");
    EXPECT_EQ(items[1].Size, 120);
    EXPECT_EQ(items[1].Data, lines[2]);
}

TEST(UnixListing, FillsTheLongListingColumns)
{
    const TFtpListItem item = parseOne("-rwsr-x--T   3 alice    staff     5000000000 Jan  2  2021 big.iso");
    EXPECT_EQ(item.extras().OwnerPermissions, "rws");
    EXPECT_EQ(item.extras().GroupPermissions, "r-x");
    EXPECT_EQ(item.extras().OtherPermissions, "--T");
    EXPECT_EQ(item.extras().LinkCount, 3);
    EXPECT_EQ(item.extras().OwnerName, "alice");
    EXPECT_EQ(item.extras().GroupName, "staff");
    EXPECT_EQ(item.Size, 5000000000);
    EXPECT_TRUE(item.SizeAvailable);
    EXPECT_EQ(item.ModifiedDate, (ListDateTime { 2021, 1, 2, 0, 0, 0, 999 }));
    EXPECT_EQ(item.extras().Inode, 0);
    EXPECT_EQ(item.extras().BlockCount, 0);
}

TEST(UnixListing, ReadsEachEntryKindAndItsName)
{
    struct Case {
        std::string line;
        ItemType type;
        std::string name;
        std::string linkTarget;
    };
    const Case cases[] = {
        { "drwxr-xr-x 2 u g 512 Jan 1 2020 a folder", ItemType::Directory, "a folder", "" },
        { "lrwxrwxrwx 1 u g 7 Jan 1 2020 bin -> usr/bin", ItemType::SymbolicLink, "bin", "usr/bin" },
        { "lrwxrwxrwx 1 u g 7 Jan 1 2020 docs -> share/doc/", ItemType::SymbolicLinkToDirectory, "docs",
            "share/doc" },
        { "lrwxrwxrwx 1 u g 7 Jan 1 2020 dangling", ItemType::SymbolicLink, "dangling", "" },
        { "brw-rw---- 1 root disk 8, 0 Jan 1 2020 sda", ItemType::BlockDevice, "sda", "" },
        { "crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null", ItemType::CharacterDevice, "null", "" },
        { "crw------- 1 root sys 109,767 Jul 2 2004 pci@1c,600000:devctl", ItemType::CharacterDevice,
            "pci@1c,600000:devctl", "" },
        { "prw-r--r-- 1 u g 0 Jan 1 2020 pipe", ItemType::Fifo, "pipe", "" },
        { "srwxrwxrwx 1 u g 0 Jan 1 2020 sock", ItemType::Socket, "sock", "" },
        { "-rwxr-xr-x 1 u g 10 Jan 1 2020 run.sh*", ItemType::File, "run.sh", "" }, // ls -F markers
        { "drwxr-xr-x 2 u g 512 Jan 1 2020 marked/", ItemType::Directory, "marked", "" },
        { "-rw-r--r-- 1 u g 10 Jan 1 2020   two blanks", ItemType::File, "  two blanks", "" },
        { "-rw-r--r-- 1 u g 10 Jan 1 2020 a -> b", ItemType::File, "a -> b", "" }, // only links have targets
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const TFtpListItem item = parseOne(c.line);
        EXPECT_EQ(item.ItemType, c.type);
        EXPECT_EQ(item.FileName, c.name);
        EXPECT_EQ(item.extras().LinkTarget, c.linkTarget);
    }
}

// "ls -F" appends "*" to entries that can be run; elsewhere a "*" is part of the name.
TEST(UnixListing, TrailingStarIsAMarkerOnlyOnExecutableEntries)
{
    struct Case {
        std::string permissions;
        std::string name;
    };
    const Case cases[] = {
        { "-rwxr-xr-x", "trail" },
        { "-rw-r--r--", "trail*" },
        { "-rw-r-xr--", "trail" }, // group may run it
        { "-rw-r--r-x", "trail" }, // others may run it
        { "-rwsr--r--", "trail" }, // set-user-id with execute
        { "-rwSr--r--", "trail*" }, // set-user-id without execute
        { "-rw-r--r-t", "trail" },
        { "-rw-r--r-T", "trail*" },
        { "drw-r--r--", "trail*" },
    };
    for (const Case& c : cases) {
        const std::string line = c.permissions + " 1 u g 10 Jan 1 2020 trail*";
        SCOPED_TRACE(line);
        EXPECT_EQ(parseOne(line).FileName, c.name);
    }
    // Only the last character is a marker.
    EXPECT_EQ(parseOne("-rw-r--r-- 1 u g 10 Jan 1 2020 **").FileName, "**");
    EXPECT_EQ(parseOne("-rwxr-xr-x 1 u g 10 Jan 1 2020 **").FileName, "*");
}

// "major, minor" stands where the size would: a device's size is 0, and known.
TEST(UnixListing, DeviceLinesHaveSizeZero)
{
    for (const std::string line :
        { "crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null", "brw-rw---- 1 root disk 8,   0 Jan 1 2020 sda",
            "crw------- 1 root sys 109,767 Jul 2 2004 devctl" }) {
        const TFtpListItem item = parseOne(line);
        EXPECT_TRUE(item.SizeAvailable) << line;
        EXPECT_EQ(item.Size, 0) << line;
        EXPECT_TRUE(item.ModifiedAvailable) << line;
        EXPECT_EQ(item.ModifiedDate.year, line.ends_with("devctl") ? 2004 : 2020) << line;
    }
}

TEST(UnixListing, ReadsTheLayoutsOfOtherServers)
{
    struct Case {
        const char* what;
        std::string line;
        std::string owner;
        std::string group;
        std::int64_t size;
        std::string name;
    };
    const Case cases[] = {
        { "no group column", "drwxr-xr-x   2 sys          512 Mar 27  2009 pub", "", "sys", 512, "pub" },
        { "neither owner nor group", "-rw-r--r--   1     1234 Jan  5  2001 file", "", "", 1234, "file" },
        { "group with a blank", "drwx------ 4 maxm Domain Users 512 Oct 2 10:59 .metadata", "maxm",
            "Domain Users", 512, ".metadata" },
        { "NetPresenz folder", "drwxrwxr-x               folder        2 May 10  1996 some dir", "", "", 2,
            "some dir" },
        { "link count 0 glued to the owner", "-rw-r--r-- 0ftp ftp 77 Jan 5 2001 f", "ftp", "ftp", 77, "f" },
        { "no blank after the permissions", "drwxr-x---+1464 chrism chrism 41472 Feb 25 13:17 20090225", "",
            "chrism", 41472, "20090225" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TFtpListItem item = parseOne(c.line);
        EXPECT_EQ(item.extras().OwnerName, c.owner);
        EXPECT_EQ(item.extras().GroupName, c.group);
        EXPECT_EQ(item.Size, c.size);
        EXPECT_EQ(item.FileName, c.name);
        EXPECT_TRUE(item.ModifiedAvailable);
    }
}

TEST(UnixListing, ReadsInodeAndBlockCountColumns)
{
    const ListingLines lines = {
        "total 16",
        "  1048601    4 drwxr-xr-x  2 ftp ftp 4096 Jun  3  2019 pub",
        "1048602 -rw-r--r--  1 ftp ftp 12 Jun  3  2019 README",
    };
    EXPECT_TRUE(makeUnixParser()->check(lines, "", true));
    const TFtpListItems items = parseUnix(lines);
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].extras().Inode, 1048601);
    EXPECT_EQ(items[0].extras().BlockCount, 4);
    EXPECT_EQ(items[0].ItemType, ItemType::Directory);
    EXPECT_EQ(items[0].FileName, "pub");
    EXPECT_EQ(items[1].extras().Inode, 1048602);
    EXPECT_EQ(items[1].extras().BlockCount, 0);
    EXPECT_EQ(items[1].Size, 12);
    EXPECT_EQ(items[1].FileName, "README");
}

// The extra columns are read from the item's line when first asked for: they must
// come out as the parse saw them, in copies too, and stay per item once changed.
TEST(UnixListing, ExtraColumnsOfEachItemOnDemand)
{
    const ListingLines lines = {
        "./sub:",
        "  77 2 lrwxrwxrwx  1 ann   staff   9 Jun  3  2019 docs -> ../share/",
        "-rw-r-----  1 bob   Domain Users  12 Jun  3  2019 README",
    };
    const TFtpListItems parsed = parseUnix(lines);
    const TFtpListItems items = parsed; // copies made before anyone asked
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, "sub/docs");
    EXPECT_EQ(items[0].ItemType, ItemType::SymbolicLinkToDirectory);
    const TFtpListItemExtras& link = items[0].extras();
    EXPECT_EQ(link.Inode, 77);
    EXPECT_EQ(link.BlockCount, 2);
    EXPECT_EQ(link.OwnerPermissions, "rwx");
    EXPECT_EQ(link.LinkCount, 1);
    EXPECT_EQ(link.OwnerName, "ann");
    EXPECT_EQ(link.GroupName, "staff");
    EXPECT_EQ(link.LinkTarget, "../share");
    const TFtpListItemExtras& file = items[1].extras();
    EXPECT_EQ(file.GroupPermissions, "r--");
    EXPECT_EQ(file.OtherPermissions, "---");
    EXPECT_EQ(file.OwnerName, "bob");
    EXPECT_EQ(file.GroupName, "Domain Users");
    EXPECT_EQ(file.LinkTarget, "");

    TFtpListItem changed = items[1];
    changed.mutableExtras().OwnerName = "carol";
    EXPECT_EQ(changed.extras().OwnerName, "carol");
    EXPECT_EQ(changed.extras().GroupName, "Domain Users");
    EXPECT_EQ(items[1].extras().OwnerName, "bob");
    EXPECT_EQ(parsed[1].extras().OwnerName, "bob");

    // Items of other formats have none unless their parser sets them.
    EXPECT_EQ(TFtpListItem {}.extras().OwnerName, "");
    EXPECT_EQ(TFtpListItem {}.extras().LinkCount, 0);
}

// Listings print a time of day instead of the year for recent entries: such an
// entry lies in the last twelve months, counted from today.
TEST(UnixListing, DatesWithoutYearFallInTheLastTwelveMonths)
{
    struct Case {
        ListDateTime today;
        std::string date;
        ListDateTime expected;
    };
    const Case cases[] = {
        { kToday, "Jun 15 11:59", { 2024, 6, 15, 11, 59, 0, 999 } }, // today
        { kToday, "Jun 16 00:00", { 2023, 6, 16, 0, 0, 0, 999 } }, // tomorrow: last year
        { kToday, "Jan  1 08:05", { 2024, 1, 1, 8, 5, 0, 999 } },
        { kToday, "Dec 31 23:59", { 2023, 12, 31, 23, 59, 0, 999 } },
        { { 2024, 1, 1, 0, 0, 0, 0 }, "Jan  1 00:00", { 2024, 1, 1, 0, 0, 0, 999 } },
        { { 2024, 1, 1, 0, 0, 0, 0 }, "Jan  2 00:00", { 2023, 1, 2, 0, 0, 0, 999 } },
        { { 2024, 3, 1, 0, 0, 0, 0 }, "Feb 29 10:00", { 2024, 2, 29, 10, 0, 0, 999 } },
        { kToday, "6 14 10:00", { 2024, 6, 14, 10, 0, 0, 999 } }, // numeric month
        { kToday, "Mar  2 15:13:22 2005", { 2005, 3, 2, 15, 13, 22, 999 } }, // full time, then the year
        { kToday, "Mar  2 15:13:22.250 2005", { 2005, 3, 2, 15, 13, 22, 250 } },
        { kToday, "Mar  2 1999", { 1999, 3, 2, 0, 0, 0, 999 } },
        { kToday, "2005-06-07 21:22", { 2005, 6, 7, 21, 22, 0, 999 } }, // a printed year stays
        { kToday, "1999/10/12 17:12", { 1999, 10, 12, 17, 12, 0, 999 } },
        { kToday, "09-26 2000", { 2000, 9, 26, 0, 0, 0, 999 } },
        { kToday, "26 11 2000", { 2000, 11, 26, 0, 0, 0, 999 } }, // day first when above 12
    };
    for (const Case& c : cases) {
        const std::string line = "-rw-r--r-- 1 u g 1 " + c.date + " name";
        SCOPED_TRACE(line);
        const TFtpListItem item = parseOne(line, c.today);
        EXPECT_TRUE(item.ModifiedAvailable);
        EXPECT_EQ(item.ModifiedDate, c.expected);
        EXPECT_EQ(item.FileName, "name");
    }
}

// Year, month and day followed by their unit signs, as East Asian servers send
// them: in UTF-8 or in the 8-bit encoding of their locale.
TEST(UnixListing, ReadsUnitSignDatesInEveryEncoding)
{
    struct Case {
        const char* encoding;
        std::string date;
    };
    const Case cases[] = {
        { "UTF-8",
            "2014\xE5\xB9\xB4"
            "03\xE6\x9C\x88"
            "12\xE6\x97\xA5" },
        { "GBK",
            "2014\xC4\xEA"
            "03\xD4\xC2"
            "12\xC8\xD5" },
        { "Big5",
            "2014\xA6\x7E"
            "3\xA4\xEB"
            "12\xA4\xE9" },
        { "Shift_JIS",
            "2014\x94N"
            "03\x8C\x8E"
            "12\x93\xFA" }, // second byte of the year sign is "N"
        { "EUC-JP",
            "2014\xC7\xAF"
            "03\xB7\xEE"
            "12\xC6\xFC" },
        { "EUC-KR", "2014\xB3\xE2 03\xBF\xF9 12\xC0\xCF" },
        { "UTF-8 Korean", "2014\xEB\x85\x84 3\xEC\x9B\x94 12\xEC\x9D\xBC" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        const TFtpListItem item = parseOne("-rw-r--r-- 1 ftp ftp 1024 " + c.date + " 10:45 12 \xC8\xD5.txt");
        EXPECT_EQ(item.ModifiedDate, (ListDateTime { 2014, 3, 12, 10, 45, 0, 999 }));
        EXPECT_EQ(item.FileName, "12 \xC8\xD5.txt");
        EXPECT_EQ(item.Size, 1024);
    }
}

// Some servers print the mode in octal, owner and group as numbers and the time
// as seconds since 1970.
TEST(UnixListing, ReadsTheNumericLayout)
{
    const ListingLines lines = {
        "104755 0 20 4096 1394621100 setuid tool",
        "41777 0 0 512 1394621100 tmp",
        "100600 1000 1000 7 1394621100 a -> b",
        "120777 0 0 7 1394621100 a -> b",
    };
    TFtpListItems items;
    ASSERT_EQ(parseListing(lines, "UNIX Type: L8", kToday, items), "Unix");
    ASSERT_EQ(items.count(), 4);
    EXPECT_EQ(items[0].ItemType, ItemType::File);
    EXPECT_EQ(items[0].FileName, "setuid tool");
    EXPECT_EQ(items[0].extras().OwnerPermissions, "rws");
    EXPECT_EQ(items[0].extras().GroupPermissions, "r-x");
    EXPECT_EQ(items[0].extras().OwnerName, "0");
    EXPECT_EQ(items[0].extras().GroupName, "20");
    EXPECT_EQ(items[0].ModifiedDate, (ListDateTime { 2014, 3, 12, 10, 45, 0, 0 }));
    EXPECT_EQ(items[1].ItemType, ItemType::Directory);
    EXPECT_EQ(items[1].extras().OtherPermissions, "rwt");
    EXPECT_EQ(items[2].FileName, "a -> b"); // only links have targets
    EXPECT_EQ(items[3].ItemType, ItemType::SymbolicLink);
    EXPECT_EQ(items[3].FileName, "a");
    EXPECT_EQ(items[3].extras().LinkTarget, "b");

    // Not numeric enough: other formats keep such lines.
    for (const std::string line : { "100644 1000 1000 1024 13946 short time",
             "100844 0 0 1 1394621100 not octal", "100644 0 0 1 1394621100" })
        EXPECT_FALSE(makeUnixParser()->check({ line }, "", true)) << line;
}

// One line with a date the calendar cannot hold must not hide the rest of the
// folder: its item stays, without a date.
TEST(UnixListing, ImpossibleDateLeavesOnlyThatItemWithoutDate)
{
    const ListingLines lines = {
        "-rw-r--r-- 1 u g 1 Jan  5  2020 before",
        "-rw-r--r-- 1 u g 2 Okt  5  2020 german month",
        "-rw-r--r-- 1 u g 3 Feb 29  2023 no leap day",
        "-rw-r--r-- 1 u g 4 Apr  4 24:00 past midnight",
        "-rw-r--r-- 1 u g 5 Feb 29 10:00 leap day of a common year",
        "-rw-r--r-- 1 u g 6 Jan  5  2020 after",
    };
    const TFtpListItems items = parseUnix(lines, { 2023, 6, 1, 0, 0, 0, 0 });
    ASSERT_EQ(items.count(), 6);
    for (int i : { 1, 2, 3, 4 }) {
        SCOPED_TRACE(lines[std::size_t(i)]);
        EXPECT_FALSE(items[i].ModifiedAvailable);
        EXPECT_TRUE(items[i].ModifiedDate.isZero());
        EXPECT_EQ(items[i].Size, i + 1);
    }
    EXPECT_EQ(items[1].FileName, "german month");
    EXPECT_EQ(items[4].FileName, "leap day of a common year");
    EXPECT_TRUE(items[5].ModifiedAvailable);
    EXPECT_EQ(items[5].FileName, "after");
}

TEST(UnixListing, SubfolderBannersPrefixTheNames)
{
    const ListingLines lines = {
        ".:",
        "total 1",
        "-rw-r--r-- 1 u g 1 Jan 5 2020 top",
        "",
        "./sub:",
        "/bin/ls: cannot open directory ./locked: Permission denied",
        "-rw-r--r-- 1 u g 1 Jan 5 2020 inner",
    };
    EXPECT_TRUE(makeUnixParser()->check(lines, "", true));
    const TFtpListItems items = parseUnix(lines);
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, "top");
    EXPECT_EQ(items[1].FileName, "sub/inner");
}

TEST(UnixListing, CheckDecidesOnTheFirstEntryLine)
{
    struct Case {
        const char* what;
        ListingLines lines;
        bool accepted;
    };
    const Case cases[] = {
        { "plain", { "-rw-r--r-- 1 u g 1 Jan 5 2020 f" }, true },
        { "after total and banner", { "total 3", "./x:", "", "drwxr-xr-x 2 u g 1 Jan 5 2020 d" }, true },
        { "device first", { "crw-rw-rw- 1 root root 1, 3 Jan 1 2020 null" }, true },
        { "first entry line decides", { "drwxr-xr-x 2 u g 1 Jan 5 2020 d", "something else" }, true },
        { "other text first", { "Directory of /pub", "-rw-r--r-- 1 u g 1 Jan 5 2020 f" }, false },
        { "only a total line", { "total 0" }, false },
        { "12-hour clock", { "-rw-r--r-- 1 u g 1 Jan 5 2020 10:00 AM name" }, false },
        { "month and year further right", { "-rw-r--r-- 1 u g extra 1 Jan 5 2020 name" }, false },
        { "Unitree storage column", { "-rw-r--r-- 1 u g AR 1 Jan 5 10:00 f" }, false },
        { "unknown type letter", { "frw-r--r-- 1 u g 1 Jan 5 2020 f" }, false },
        { "nothing", { "" }, false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(makeUnixParser()->check(c.lines, "", true), c.accepted) << c.what;
}

TEST(UnitreeListing, TakesListingsWithStorageStates)
{
    const ListingLines lines = {
        "/home/user (fam1).",
        "-rw-r--r--   1 user  grp  AR  fam1  2048 Jan  5  2020 archived",
        "-rw-r--r--   1 user  grp  DK  1024 Jan  5  2020 on disk",
    };
    EXPECT_FALSE(makeUnixParser()->check(lines, "", true));
    ASSERT_TRUE(makeUnitreeParser()->check(lines, "", true));
    TFtpListItems items;
    ASSERT_EQ(parseListing(lines, "UNIX", kToday, items), "Unitree");
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].extras().StorageState, "AR");
    EXPECT_EQ(items[0].extras().FamilyName, "fam1");
    EXPECT_EQ(items[0].Size, 2048);
    EXPECT_EQ(items[0].FileName, "archived");
    EXPECT_EQ(items[1].extras().StorageState, "DK");
    EXPECT_EQ(items[1].extras().FamilyName, "");
    EXPECT_EQ(items[1].Size, 1024);
    EXPECT_EQ(items[1].FileName, "on disk");
    EXPECT_EQ(items[1].ModifiedDate, (ListDateTime { 2020, 1, 5, 0, 0, 0, 999 }));

    EXPECT_FALSE(makeUnitreeParser()->check({ "-rw-r--r-- 1 u g 1 Jan 5 2020 f" }, "", true));
}

// Memory of a parsed 100,000-entry listing: the process's peak resident size and
// the heap the items hold. A measurement, not a check; run it on its own with
//   ftp_tests --gtest_also_run_disabled_tests --gtest_filter='*ParseMemory*'
TEST(UnixListing, DISABLED_ParseMemoryOfALargeListing)
{
    constexpr int kEntries = 100000;
    std::string text = "total 123456\r\n";
    char line[256];
    for (int i = 0; i < kEntries; ++i) {
        const bool folder = i % 10 == 0;
        std::snprintf(line, sizeof line, "%s %3d %-8s %-8s %12lld %s %2d %s %s_%06d.dat\r\n",
            folder ? "drwxr-xr-x" : "-rw-r--r--", 1 + i % 40, "ftpuser", "ftpgroup",
            static_cast<long long>(i) * 7919, "Mar", 1 + i % 28, i % 2 ? "12:34" : " 2019",
            folder ? "folder" : "file data", i);
        text += line;
    }
    const ListingLines lines = splitListingLines(text);
    std::string().swap(text);

    const auto peakKiB = [] {
        rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        return static_cast<long long>(usage.ru_maxrss);
    };
    const long long peakBefore = peakKiB();
    // Small blocks and blocks of their own (a large vector) together.
    const auto heapBytes = [] {
        const struct mallinfo2 info = mallinfo2();
        return info.uordblks + info.hblkhd;
    };
    const std::size_t heapBefore = heapBytes();
    TFtpListItems items;
    ASSERT_EQ(parseListing(lines, "UNIX Type: L8", kToday, items), "Unix");
    ASSERT_EQ(items.count(), kEntries);
    const std::size_t heapAfter = heapBytes();
    const long long peakAfter = peakKiB();
    std::printf("sizeof(TFtpListItem) %zu bytes\n", sizeof(TFtpListItem));
    std::printf("items hold %zu bytes of heap, %zu per item\n", heapAfter - heapBefore,
        (heapAfter - heapBefore) / kEntries);
    std::printf("peak RSS %lld KiB before the parse, %lld KiB after (+%lld KiB)\n", peakBefore, peakAfter,
        peakAfter - peakBefore);
}

} // namespace
} // namespace taskhaul::ftp
