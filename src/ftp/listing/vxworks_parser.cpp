// Wind River VxWorks listings:
//
//   size          date       time       name
//   --------       ------     ------    --------
//   2048    FEB-28-1998  05:23:30   tmp <DIR>
//
// Folders carry "<DIR>" after the name. Some servers leave the header out.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isHeader(const Words& words)
{
    return words.size() == 4 && base::EqualsIgnoreCase(words[0], "size")
        && base::EqualsIgnoreCase(words[1], "date") && base::EqualsIgnoreCase(words[2], "time")
        && base::EqualsIgnoreCase(words[3], "name");
}

// "FEB-28-1998"
std::optional<std::array<int, 3>> monthDayYear(std::string_view word)
{
    if (word.size() != 11 || word[3] != '-' || word[6] != '-')
        return std::nullopt;
    const int month = monthFromName(word.substr(0, 3));
    const std::string_view day = word.substr(4, 2);
    const std::string_view year = word.substr(7);
    if (month == 0 || !base::IsDigits(day) || !base::IsDigits(year))
        return std::nullopt;
    return std::array<int, 3> { toIntOr(year, 0), month, toIntOr(day, 0) };
}

bool isEntryLine(const Words& words)
{
    return words.size() >= 4 && base::IsDigits(words[0]) && monthDayYear(words[1]) && parseTime(words[2]);
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (!isEntryLine(words))
        return std::nullopt;
    std::string_view name = afterFields(line, 3);
    ItemType type = ItemType::File;
    if (name.ends_with("<DIR>")) {
        type = ItemType::Directory;
        name = trimmed(name.substr(0, name.size() - 5));
    }
    if (name.empty())
        return std::nullopt;
    TFtpListItem item = newItem(line, name, type);
    setSize(item, base::ParseInteger(words[0]));
    const auto date = *monthDayYear(words[1]);
    setDate(item, makeDateTime(date[0], date[1], date[2], *parseTime(words[2])));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeVxWorksParser()
{
    return std::make_unique<LineByLineParser>(
        "Wind River VxWorks",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return isHeader(words) || isEntryLine(words);
            });
        },
        parseLine);
}

} // namespace taskhaul::ftp
