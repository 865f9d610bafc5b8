// Cisco IOS listings (the router's "dir" of a flash file system):
//
// Directory of flash:/
//
//     1  -rw-    18929484   Mar 1 1993 00:07:19 +00:00  c2800nm-ipbase-mz.124-3.bin
//     2  drw-           0   Mar 1 1993 00:01:56 +00:00  crashinfo
//     3  -rw-     4720148          <no date>  c3620-j-m.113-1.bin
//
// 64016384 bytes total (41680896 bytes free)
//
// The check trusts the answer to SYST. The time zone offset, when shown, is dropped:
// dates stay as the router lists them.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isAttributes(std::string_view word)
{
    return word.size() == 4 && word.find_first_not_of("-drwx") == std::string_view::npos;
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (words.size() < 5 || !base::IsDigits(words[0]) || !isAttributes(words[1]) || !base::IsDigits(words[2]))
        return std::nullopt;
    std::size_t nameIndex = 0;
    std::optional<ListDateTime> date;
    if (words[3] == "<no" && words[4] == "date>") {
        nameIndex = 5;
    } else if (words.size() >= 8 && monthFromName(words[3]) != 0) {
        const auto time = parseTime(words[6]);
        if (time)
            date = makeDateTime(toIntOr(words[5], 0), monthFromName(words[3]), toIntOr(words[4], 0), *time);
        nameIndex
            = words[7].size() > 1 && (words[7][0] == '+' || words[7][0] == '-') && words.size() > 8 ? 8 : 7;
    } else {
        return std::nullopt;
    }
    const std::string_view name = afterFields(line, nameIndex);
    if (name.empty())
        return std::nullopt;
    TFtpListItem item = newItem(line, name, words[1][0] == 'd' ? ItemType::Directory : ItemType::File);
    setSize(item, base::ParseInteger(words[2]));
    setDate(item, date);
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeCiscoIOSParser()
{
    return std::make_unique<LineByLineParser>(
        "Cisco IOS",
        [](const ListingLines&, std::string_view systemDescription) {
            return systemDescription.starts_with("Cisco IOS ");
        },
        parseLine);
}

} // namespace taskhaul::ftp
