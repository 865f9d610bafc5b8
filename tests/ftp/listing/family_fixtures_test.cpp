// Listing formats without captured samples. Each fixture is written from what the
// system documents of its listing layout (see the layout notes in the parser
// sources): the registry must pick the format, and the parse must give the rows.

#include "ftp/listing/list_parser.h"
#include "sample_listings.h"

#include <gtest/gtest.h>

namespace taskhaul::ftp {
namespace {

using samples::SampleRow;

constexpr ListDateTime kToday { 2026, 6, 15, 12, 0, 0, 0 };

struct Fixture {
    std::string ident;
    std::string system; // the answer to SYST
    ListingLines lines;
    std::vector<SampleRow> rows; // name, kind, size ("-" none), date ("-" none, "????" recent)
};

const std::vector<Fixture>& fixtures()
{
    static const std::vector<Fixture> all = {
        { "Xercom Micro RTOS", "UNIX Type: L8",
            { " File Name              Size       Date     Time",
                " ------------------ ---------- ---------- --------",
                " AUTOEXEC.BAT             1234 12/31/2003 23:59:59",
                " LOGS                    <DIR> 01/15/2004 08:00:00",
                " MY REPORT.TXT        1,048,576 02/29/2004 12:00:00" },
            { { "AUTOEXEC.BAT", "file", "1234", "2003-12-31 23:59:59" },
                { "LOGS", "dir", "-", "2004-01-15 08:00:00" },
                { "MY REPORT.TXT", "file", "1048576", "2004-02-29 12:00:00" } } },
        { "WinQVT/NET", "UNIX Type: L8",
            { "README.TXT                  12345  12-31-96   23:59",
                "GAMES                       <DIR>  01-15-04   08:00" },
            { { "README.TXT", "file", "12345", "1996-12-31 23:59" },
                { "GAMES", "dir", "-", "2004-01-15 08:00" } } },
        { "VSE:  Library", "UNIX Type: L8",
            { "CONFIG      <Sub Library>    2004/05/01 10:11", "PRD2        <Sub Library>" },
            { { "CONFIG", "dir", "-", "2004-05-01 10:11" }, { "PRD2", "dir", "-", "-" } } },
        { "VSE:  PowerQueue", "UNIX Type: L8",
            { "PAYROLL   01234  0  A  D  3  000123", "PAYROLL   01301  0  A  D  3  000007" },
            { { "PAYROLL.01234", "file", "-", "-" }, { "PAYROLL.01301", "file", "-", "-" } } },
        { "VSE:  Root Directory", "UNIX Type: L8",
            { "LIBRARY    PRD2", "POWER      POWER", "VSAM       VSESPUC" },
            { { "PRD2", "dir", "-", "-" }, { "POWER", "dir", "-", "-" }, { "VSESPUC", "dir", "-", "-" } } },
        { "VSE:  Sublibrary", "UNIX Type: L8",
            { "MEMBER.PHASE    123  2004/05/01  10:11", "OTHER.J           7  04/05/02  09:00" },
            { { "MEMBER.PHASE", "file", "123", "2004-05-01 10:11" },
                { "OTHER.J", "file", "7", "2004-05-02 09:00" } } },
        { "VSE:  VSAM Catalog", "UNIX Type: L8", { "CLUSTER.KSDS   K   000120", "CLUSTER.ESDS   E   000004" },
            { { "CLUSTER.KSDS", "file", "-", "-" }, { "CLUSTER.ESDS", "file", "-", "-" } } },
        { "VSE:  VTOC", "UNIX Type: L8", { "DATA.SET.NAME   S   3", "VSAM.SPACE      V   1" },
            { { "DATA.SET.NAME", "file", "-", "-" }, { "VSAM.SPACE", "file", "-", "-" } } },
        { "VM Virtual Reader", "z/VM",
            { "ORIGINID FILE CLASS RECORDS  CPY HOLD DATE  TIME     NAME      TYPE      DIST",
                "RSCS     0012 A PUN 00000123 001 NONE 12/10 11:04:43 PROFILE   EXEC      SYSPROG",
                "MAINT    0400 A RDR 00000007 001 NONE 06/01 08:00:00 NOTE      FILE      MAINT" },
            { { "0012", "file", "-", "\?\?\?\?-12-10 11:04:43" },
                { "0400", "file", "-", "\?\?\?\?-06-01 08:00:00" } } },
        { "VM/BFS", "z/VM",
            { "'my file.txt'   F   1234  12/10/97  14:05:29",
                "'subdir'        D      -  01/02/98  08:00:00" },
            { { "my file.txt", "file", "1234", "1997-12-10 14:05:29" },
                { "subdir", "dir", "-", "1998-01-02 08:00:00" } } },
        { "TSX+", "UNIX Type: L8",
            { " 4-Feb-93", "SWAP  .SYS    25P 01-Jan-80    TT    .SYS     2  01-Jan-80",
                "DATA  .DAT   100  15-Mar-93", " 3 Files, 127 Blocks", " 1234 Free blocks" },
            { { "SWAP.SYS", "file", "12800", "1980-01-01" }, { "TT.SYS", "file", "1024", "1980-01-01" },
                { "DATA.DAT", "file", "51200", "1993-03-15" } } },
        { "TOPS20", "TOPS20 monitor 7(21733)",
            { "PS:<ANONYMOUS>", " FOO.TXT.1", " MAIL.DIRECTORY.1",
                " REPORT.DOC.3       5 12-Mar-89 10:11:12" },
            { { "FOO.TXT.1", "file", "-", "-" }, { "MAIL.DIRECTORY.1", "dir", "-", "-" },
                { "REPORT.DOC.3", "file", "-", "1989-03-12 10:11:12" } } },
        { "CONNECT:Enterprise for UNIX$$", "UNIX Type: L8",
            { "-C--E-----FTP A QUA1I1>     18128       41 Aug 12 13:56 QUADTEST",
                "-C--E-----FTP B QUA1I1>     18129     2048 Aug 13  2024 QUADTEST2" },
            { { "QUADTEST", "file", "41", "\?\?\?\?-08-12 13:56" },
                { "QUADTEST2", "file", "2048", "2024-08-13" } } },
        { "CONNECT:Enterprise for UNIX ROOT", "UNIX Type: L8",
            { "d   QUA1I1      Aug 12 13:56", "d   BCC3I1" },
            { { "QUA1I1", "dir", "-", "\?\?\?\?-08-12 13:56" }, { "BCC3I1", "dir", "-", "-" } } },
        { "Connect:Express for OS/390", "UNIX Type: L8", { " F PAYROLL.DATA", " D ARCHIVE" },
            { { "PAYROLL.DATA", "file", "-", "-" }, { "ARCHIVE", "dir", "-", "-" } } },
        { "Novell Netware Print Services for Unix:  DOS Namespace", "UNIX Type: L8",
            { "01-28-97  10:12AM  F            123456 report.txt",
                "02-03-01  04:05PM  D    <DIR>          subdir" },
            { { "report.txt", "file", "123456", "1997-01-28 10:12" },
                { "subdir", "dir", "-", "2001-02-03 16:05" } } },
        { "Novell Netware Print Services for Unix:  NFS Namespace", "UNIX Type: L8",
            { "-rw-r--r--   1 root  staff   1234 Jan 28 1997 10:12 AM report.txt",
                "drwxr-xr-x   2 root  staff    512 Feb 03 2001 12:05 PM my docs" },
            { { "report.txt", "file", "1234", "1997-01-28 10:12" },
                { "my docs", "dir", "512", "2001-02-03 12:05" } } },
        { "NCSA for MS-DOS (CU/TCP)", "UNIX Type: L8",
            { "AUTOEXEC.BAT          512   5-10-93  12:01", "TEMP                <DIR>   1-02-94   9:30p" },
            { { "AUTOEXEC.BAT", "file", "512", "1993-05-10 12:01" },
                { "TEMP", "dir", "-", "1994-01-02 21:30" } } },
        { "MUSIC/SP", "UNIX Type: L8",
            { " Name                  Recfm Lrecl   Size  Last Used",
                " ABC.TEXT              V       80      12  08/25/99",
                " SUBDIR                DIR      -       -  01/02/00" },
            { { "ABC.TEXT", "file", "-", "1999-08-25" }, { "SUBDIR", "dir", "-", "2000-01-02" } } },
        { "KA9Q", "UNIX Type: L8",
            { "autoexec.nos      1,234  12:00  1/02/95", "spool/                   11:30  6/12/94" },
            { { "autoexec.nos", "file", "1234", "1995-01-02 12:00" },
                { "spool", "dir", "-", "1994-06-12 11:30" } } },
        { "Distinct TCP/IP", "UNIX Type: L8",
            { "-rw-       12345 Jan 15 2004 10:30 report 2004.txt",
                "d---           0 Mar 02 1998 17:45 archive" },
            { { "report 2004.txt", "file", "12345", "2004-01-15 10:30" },
                { "archive", "dir", "0", "1998-03-02 17:45" } } },
        { "Cisco IOS", "Cisco IOS Software, C2800 Software",
            { "Directory of flash:/", "",
                "    1  -rw-    18929484   Mar 1 1993 00:07:19 +00:00  c2800nm-ipbase-mz.124-3.bin",
                "    2  drw-           0   Mar 1 1993 00:01:56 +00:00  crashinfo",
                "    3  -rw-     4720148          <no date>  c3620-j-m.113-1.bin", "",
                "64016384 bytes total (41680896 bytes free)" },
            { { "c2800nm-ipbase-mz.124-3.bin", "file", "18929484", "1993-03-01 00:07:19" },
                { "crashinfo", "dir", "0", "1993-03-01 00:01:56" },
                { "c3620-j-m.113-1.bin", "file", "4720148", "-" } } },
        { "Bull GCOS8", "UNIX Type: L8",
            { "C  -         01/15/04  PROJECTS", "F  12        01/15/04  REPORT" },
            { { "PROJECTS", "dir", "-", "2004-01-15" }, { "REPORT", "file", "-", "2004-01-15" } } },
        { "Bull GCOS7", "UNIX Type: L8",
            { "MY.FILE.NAME                     SEQ    15 15.JAN.04  10:30",
                "MY.LIBRARY                       LIB     3 02.MAR.98  17:45" },
            { { "MY.FILE.NAME", "file", "-", "2004-01-15 10:30" },
                { "MY.LIBRARY", "dir", "-", "1998-03-02 17:45" } } },
    };
    return all;
}

std::string describe(const SampleRow& row)
{
    return row.name + " | " + row.kind + " | " + row.size + " | " + row.date;
}

TEST(FamilyFixtures, RegistryChoosesTheFormatAndParsesTheRows)
{
    for (const Fixture& fixture : fixtures()) {
        SCOPED_TRACE(fixture.ident);
        TFtpListItems items;
        const auto ident = parseListing(fixture.lines, fixture.system, kToday, items);
        EXPECT_EQ(ident.value_or("(none)"), fixture.ident);
        EXPECT_EQ(items.count(), static_cast<int>(fixture.rows.size()));
        for (int i = 0; i < items.count() && i < static_cast<int>(fixture.rows.size()); ++i) {
            const SampleRow& want = fixture.rows[static_cast<std::size_t>(i)];
            const SampleRow got = samples::rowOf(items[i]);
            const bool dateOk = want.date == "-"
                ? got.date == "-"
                : samples::sampleDateMatches(want.date, items[i].ModifiedDate, kToday);
            EXPECT_TRUE(got.name == want.name && got.kind == want.kind && got.size == want.size && dateOk)
                << "row " << i << "\n  expected " << describe(want) << "\n  actual   " << describe(got);
        }
    }
}

// The formats recognised by the answer to SYST take nothing without it, and a
// listing that looks like theirs does not take them over.
TEST(FamilyFixtures, SystemDescriptionDecidesTops20AndCisco)
{
    for (const Fixture& fixture : fixtures()) {
        if (fixture.ident != "TOPS20" && fixture.ident != "Cisco IOS")
            continue;
        TFtpListItems items;
        const auto ident = parseListing(fixture.lines, "UNIX Type: L8", kToday, items);
        EXPECT_NE(ident.value_or("(none)"), fixture.ident);
    }
}

// A header alone, or a listing that breaks off, gives no entries and no error.
TEST(FamilyFixtures, HeadersAndBrokenLinesGiveNoEntries)
{
    for (const Fixture& fixture : fixtures()) {
        SCOPED_TRACE(fixture.ident);
        const ListParser* parser = nullptr;
        for (const auto& candidate : listParserRegistry())
            if (candidate->ident() == fixture.ident)
                parser = candidate.get();
        ASSERT_NE(parser, nullptr);
        ListingLines cut;
        for (const std::string& line : fixture.lines)
            cut.push_back(line.substr(0, line.size() / 2));
        TFtpListItems items;
        EXPECT_NO_THROW(parser->parse(cut, ListParseContext { kToday, fixture.system }, items));
        EXPECT_LE(items.count(), static_cast<int>(cut.size()));
    }
}

} // namespace
} // namespace taskhaul::ftp
