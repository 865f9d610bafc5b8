// Bull GCOS listings.
//
// GCOS 8 (catalogs and files, fixed characters in columns 1 to 3):
//
// C  -         01/15/04  PROJECTS
// F  12        01/15/04  REPORT
//
// "C" is a catalog (a folder), "F" a file; the size counts llinks (320 words), not
// bytes. The date is MM/DD/YY.
//
// GCOS 7 (fixed columns; the date DD.MMM.YY puts its dots in columns 46 and 50):
//
// MY.FILE.NAME                     SEQ       15  15.JAN.04  10:30
// MY.LIBRARY                       LIB        3  02.MAR.98  17:45
//
// The name is the first word; the organisation "LIB" marks a library (a folder).

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

// ---- GCOS 8 ----------------------------------------------------------------------------

bool isGcos8Line(std::string_view line)
{
    if (line.size() < 4 || (line[0] != 'C' && line[0] != 'F') || line[1] != ' ' || line[2] != ' ')
        return false;
    const Words words = fields(line);
    return words.size() >= 4 && (words[1] == "-" || base::IsDigits(words[1])) && dateParts(words[2], '/');
}

std::optional<TFtpListItem> parseGcos8Line(std::string_view line, const ListParseContext& context)
{
    if (!isGcos8Line(line))
        return std::nullopt;
    const Words words = fields(line);
    TFtpListItem item
        = newItem(line, afterFields(line, 3), line[0] == 'C' ? ItemType::Directory : ItemType::File);
    const auto date = *dateParts(words[2], '/');
    setDate(item, makeDateTime(wholeYear(date[2], context.today.year), date[0], date[1]));
    return item;
}

// ---- GCOS 7 ----------------------------------------------------------------------------

constexpr std::size_t kGcos7Date = 43; // day in columns 44-45, dots in 46 and 50

bool isGcos7Line(std::string_view line)
{
    return line.size() >= kGcos7Date + 9 && line[kGcos7Date + 2] == '.' && line[kGcos7Date + 6] == '.'
        && base::IsDigits(line.substr(kGcos7Date, 2)) && monthFromName(line.substr(kGcos7Date + 3, 3)) != 0
        && base::IsDigits(line.substr(kGcos7Date + 7, 2)) && !fields(line.substr(0, kGcos7Date)).empty();
}

std::optional<TFtpListItem> parseGcos7Line(std::string_view line, const ListParseContext& context)
{
    if (!isGcos7Line(line))
        return std::nullopt;
    const Words head = fields(line.substr(0, kGcos7Date));
    const bool isLibrary = head.size() > 1 && head[1] == "LIB";
    TFtpListItem item = newItem(line, head[0], isLibrary ? ItemType::Directory : ItemType::File);
    TimeOfDay time;
    const Words tail = fields(line.substr(kGcos7Date + 9));
    if (!tail.empty())
        time = parseTime(tail[0]).value_or(TimeOfDay {});
    setDate(item,
        makeDateTime(wholeYear(toIntOr(line.substr(kGcos7Date + 7, 2), 0), context.today.year),
            monthFromName(line.substr(kGcos7Date + 3, 3)), toIntOr(line.substr(kGcos7Date, 2), 0), time));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeGOS8Parser()
{
    return std::make_unique<LineByLineParser>(
        "Bull GCOS8",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isGcos8Line(line); });
        },
        parseGcos8Line);
}

std::unique_ptr<ListParser> makeGOS7Parser()
{
    return std::make_unique<LineByLineParser>(
        "Bull GCOS7",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isGcos7Line(line); });
        },
        parseGcos7Line);
}

} // namespace taskhaul::ftp
