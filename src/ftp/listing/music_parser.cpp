// MUSIC/SP listings:
//
//  Name                  Recfm Lrecl   Size  Last Used
//  ABC.TEXT              V       80      12  08/25/99
//  SUBDIR                DIR      -       -  01/02/00
//
// The size counts kilobytes of disk space, not the bytes of the file, so it is not
// used. Folders show "DIR" as their record format.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isHeader(const Words& words)
{
    return words.size() >= 4 && words[0] == "Name" && words[1] == "Recfm" && words[2] == "Lrecl";
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.size() < 5 || isHeader(words))
        return std::nullopt;
    const auto date = dateParts(words[4], '/');
    if (!date)
        return std::nullopt;
    TFtpListItem item = newItem(line, words[0], words[1] == "DIR" ? ItemType::Directory : ItemType::File);
    setDate(item, makeDateTime(wholeYear((*date)[2], context.today.year), (*date)[0], (*date)[1]));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeMusicParser()
{
    return std::make_unique<LineByLineParser>(
        "MUSIC/SP",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isHeader(fields(line)); });
        },
        parseLine);
}

} // namespace taskhaul::ftp
