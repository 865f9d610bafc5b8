// Distinct TCP/IP server listings:
//
// -rw-       12345 Jan 15 2004 10:30 report.txt
// d---           0 Mar 02 1998 17:45 archive
//
// Fixed characters open the line: the type ("d" or "-") and three attribute places
// (r, w, x or "-") followed by a blank. Then the size, the month name, day, year,
// time and the name.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isDistinctLine(std::string_view line)
{
    if (line.size() < 6 || (line[0] != 'd' && line[0] != '-') || line[4] != ' ')
        return false;
    for (std::size_t i = 1; i < 4; ++i)
        if (line[i] != '-' && line[i] != "rwx"[i - 1])
            return false;
    const Words words = fields(line);
    return words.size() >= 7 && base::IsDigits(words[1]) && monthFromName(words[2]) != 0
        && base::IsDigits(words[3]) && base::IsDigits(words[4]) && parseTime(words[5]);
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext&)
{
    if (!isDistinctLine(line))
        return std::nullopt;
    const Words words = fields(line);
    TFtpListItem item
        = newItem(line, afterFields(line, 6), line[0] == 'd' ? ItemType::Directory : ItemType::File);
    setSize(item, base::ParseInteger(words[1]));
    setDate(item,
        makeDateTime(
            toIntOr(words[4], 0), monthFromName(words[2]), toIntOr(words[3], 0), *parseTime(words[5])));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeDistinctTCPIPParser()
{
    return std::make_unique<LineByLineParser>(
        "Distinct TCP/IP",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isDistinctLine(line); });
        },
        parseLine);
}

} // namespace taskhaul::ftp
