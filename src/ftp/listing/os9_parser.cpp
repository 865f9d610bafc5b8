// MicroWare OS-9 listings ("dir -e"):
//
//    Owner    Last modified  Attributes Sector Bytecount Name
//   -------   -------------  ---------- ------ --------- ----
//    20.20   07/03/29 1026    d-ewrewr   2650     85920 CMDS
//
// Owner is group.user, the date YY/MM/DD and the time HHMM; a "d" opens the
// attributes of a folder.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isHeader(const Words& words)
{
    return words.size() == 7 && words[0] == "Owner" && words[1] == "Last" && words[2] == "modified"
        && words[3] == "Attributes" && words[6] == "Name";
}

bool isOwner(std::string_view word)
{
    const std::size_t dot = word.find('.');
    return dot != std::string_view::npos && base::IsDigits(word.substr(0, dot))
        && base::IsDigits(word.substr(dot + 1));
}

bool isAttributes(std::string_view word)
{
    return word.size() == 8 && (word[0] == 'd' || word[0] == '-')
        && word.find_first_not_of("-dsewrpx") == std::string_view::npos;
}

bool isEntryLine(const Words& words)
{
    return words.size() >= 7 && isOwner(words[0]) && dateParts(words[1], '/') && words[2].size() == 4
        && base::IsDigits(words[2]) && isAttributes(words[3]);
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (!isEntryLine(words))
        return std::nullopt;
    TFtpListItem item
        = newItem(line, afterFields(line, 6), words[3][0] == 'd' ? ItemType::Directory : ItemType::File);
    setSize(item, base::ParseInteger(words[5]));
    const auto date = *dateParts(words[1], '/');
    const TimeOfDay time { toIntOr(words[2].substr(0, 2), -1), toIntOr(words[2].substr(2), -1), 0 };
    setDate(item, makeDateTime(wholeYear(date[0], context.today.year), date[1], date[2], time));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeMicrowareOS9Parser()
{
    return std::make_unique<LineByLineParser>(
        "MicroWare OS-9",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return isHeader(words) || isEntryLine(words);
            });
        },
        parseLine);
}

} // namespace taskhaul::ftp
