// Listings of small DOS-era and embedded servers that print one file per line with a
// size (or "<DIR>"), a date and a time: Xercom Micro RTOS, WinQVT/NET, NCSA Telnet
// for DOS (CU/TCP) and KA9Q NOS.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

// "<DIR>" or a size; the size may be grouped with ",".
struct SizeColumn {
    bool isDir = false;
    std::optional<std::int64_t> size;
};

std::optional<SizeColumn> sizeColumn(std::string_view word)
{
    if (word == "<DIR>")
        return SizeColumn { true, std::nullopt };
    if (const auto size = parseSize(word))
        return SizeColumn { false, size };
    return std::nullopt;
}

TFtpListItem entry(
    std::string_view line, std::string_view name, const SizeColumn& column, std::optional<ListDateTime> date)
{
    TFtpListItem item = newItem(line, name, column.isDir ? ItemType::Directory : ItemType::File);
    if (!column.isDir)
        setSize(item, column.size);
    setDate(item, date);
    return item;
}

// M-D-YY or M/D/YY, two- or four-digit year.
std::optional<ListDateTime> monthDayYear(std::string_view date, std::string_view time, int currentYear)
{
    auto parts = dateParts(date, '-');
    if (!parts)
        parts = dateParts(date, '/');
    const auto clock = parseTime(time);
    if (!parts || !clock)
        return std::nullopt;
    return makeDateTime(wholeYear((*parts)[2], currentYear), (*parts)[0], (*parts)[1], *clock);
}

// ---- Xercom Micro RTOS ------------------------------------------------------------------
//
//  File Name              Size       Date     Time
//  ------------------ ---------- ---------- --------
//  AUTOEXEC.BAT             1234 12/31/2003 23:59:59
//  LOGS                    <DIR> 01/15/2004 08:00:00
// The name takes what stands before the last three columns, blanks included.

bool isXercomHeader(const Words& words)
{
    return words.size() == 5 && base::EqualsIgnoreCase(words[0], "File")
        && base::EqualsIgnoreCase(words[1], "Name") && base::EqualsIgnoreCase(words[2], "Size")
        && base::EqualsIgnoreCase(words[3], "Date") && base::EqualsIgnoreCase(words[4], "Time");
}

std::optional<TFtpListItem> parseXercomLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.size() < 4 || isXercomHeader(words))
        return std::nullopt;
    const std::size_t n = words.size();
    const auto column = sizeColumn(words[n - 3]);
    const auto date = monthDayYear(words[n - 2], words[n - 1], context.today.year);
    if (!column || !date)
        return std::nullopt;
    const std::string_view text = trimmed(line);
    const std::size_t nameEnd = static_cast<std::size_t>(words[n - 3].data() - text.data());
    return entry(line, trimmed(text.substr(0, nameEnd)), *column, date);
}

// ---- WinQVT/NET ---------------------------------------------------------------------------
//
// NAME.EXT                    12345  12-31-96   23:59
// Fixed columns: the date stands in columns 36 to 43 ("-" in 38 and 41), the time in
// 47 to 51 (":" in 49); the size or "<DIR>" is the last word before the date.

constexpr std::size_t kQvtDate = 35;
constexpr std::size_t kQvtTime = 46;

bool isQvtLine(std::string_view line)
{
    return line.size() >= kQvtTime + 5 && line[kQvtDate + 2] == '-' && line[kQvtDate + 5] == '-'
        && line[kQvtTime + 2] == ':' && !isPermissionsField(line) && dateParts(line.substr(kQvtDate, 8), '-')
        && parseTime(line.substr(kQvtTime, 5)) && fields(line.substr(0, kQvtDate)).size() >= 2;
}

std::optional<TFtpListItem> parseQvtLine(std::string_view line, const ListParseContext& context)
{
    if (!isQvtLine(line))
        return std::nullopt;
    const std::string_view head = line.substr(0, kQvtDate);
    const Words words = fields(head);
    const auto column = sizeColumn(words.back());
    if (!column)
        return std::nullopt;
    const std::size_t nameEnd = static_cast<std::size_t>(words.back().data() - head.data());
    return entry(line, trimmed(head.substr(0, nameEnd)), *column,
        monthDayYear(line.substr(kQvtDate, 8), line.substr(kQvtTime, 5), context.today.year));
}

// ---- NCSA Telnet for DOS (CU/TCP) -----------------------------------------------------------
//
// AUTOEXEC.BAT          512   5-10-93  12:01
// TEMP                <DIR>   1-02-94   9:30p

bool isNcsaLine(const Words& words)
{
    return words.size() == 4 && sizeColumn(words[1]) && monthDayYear(words[2], words[3], 2000);
}

std::optional<TFtpListItem> parseNcsaLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (!isNcsaLine(words))
        return std::nullopt;
    return entry(line, words[0], *sizeColumn(words[1]), monthDayYear(words[2], words[3], context.today.year));
}

// ---- KA9Q NOS ------------------------------------------------------------------------------
//
// autoexec.nos      1,234  12:00  1/02/95
// spool/                   11:30  6/12/94
// Folders end in "/" and may leave the size out.

std::optional<TFtpListItem> parseKa9qLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.size() < 3 || words.size() > 4)
        return std::nullopt;
    const bool isDir = words[0].size() > 1 && words[0].back() == '/';
    SizeColumn column { isDir, std::nullopt };
    if (words.size() == 4) {
        column.size = parseSize(words[1]);
        if (!column.size)
            return std::nullopt;
    } else if (!isDir) {
        return std::nullopt;
    }
    const std::size_t n = words.size();
    const auto date = monthDayYear(words[n - 1], words[n - 2], context.today.year);
    if (!date)
        return std::nullopt;
    return entry(line, isDir ? words[0].substr(0, words[0].size() - 1) : words[0], column, date);
}

} // namespace

std::unique_ptr<ListParser> makeXecomMicroRTOSParser()
{
    return std::make_unique<LineByLineParser>(
        "Xercom Micro RTOS",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return isXercomHeader(fields(line)); });
        },
        parseXercomLine);
}

std::unique_ptr<ListParser> makeWinQVNetParser()
{
    return std::make_unique<LineByLineParser>(
        "WinQVT/NET",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                return parseQvtLine(line, ListParseContext { ListDateTime { 2000, 1, 1 }, {} }).has_value();
            });
        },
        parseQvtLine);
}

std::unique_ptr<ListParser> makeNCSAforDOSParser()
{
    return std::make_unique<LineByLineParser>(
        "NCSA for MS-DOS (CU/TCP)",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isNcsaLine(fields(line)); });
        },
        parseNcsaLine);
}

std::unique_ptr<ListParser> makeKA9QParser()
{
    return std::make_unique<LineByLineParser>(
        "KA9Q",
        [](const ListingLines& lines, std::string_view) {
            // Only the first line is looked at.
            return !lines.empty()
                && parseKa9qLine(lines.front(), ListParseContext { ListDateTime { 2000, 1, 1 }, {} })
                       .has_value();
        },
        parseKa9qLine);
}

} // namespace taskhaul::ftp
