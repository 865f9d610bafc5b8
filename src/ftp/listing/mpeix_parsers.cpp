// HP MPE/iX listings, in the classic LISTF layout and in the layout with POSIX
// names in the last column. Neither shows a date; the space columns count records
// and sectors, not bytes.
//
//   FILENAME  CODE  ------------LOGICAL RECORD-----------  ----SPACE----
//                     SIZE  TYP        EOF      LIMIT R/B  SECTORS #X MX
//   DB000     PRIV    128W  FB           6          6   1       16  1  1
//
//    PATH= /FTPGUEST/PUB/
//    CODE  ------------LOGICAL RECORD-----------  ----SPACE----  FILENAME
//            SIZE  TYP        EOF      LIMIT R/B  SECTORS #X MX
//             16W  HBD          0   67107839   1       32  1  *  incoming/

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

// A record size: "128W" (words) or "1B" (bytes).
bool isRecordSize(std::string_view word)
{
    return word.size() > 1 && (word.back() == 'W' || word.back() == 'B')
        && base::IsDigits(word.substr(0, word.size() - 1));
}

bool isHeaderWord(std::string_view word)
{
    return word == "FILENAME" || word == "CODE" || word == "SIZE" || word.starts_with("PATH=");
}

std::optional<TFtpListItem> parseListfLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (words.size() < 8 || isHeaderWord(words[0]) || !(isRecordSize(words[1]) || isRecordSize(words[2])))
        return std::nullopt;
    return newItem(line, words[0]);
}

std::optional<TFtpListItem> parsePosixLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (words.size() < 9 || isHeaderWord(words[0]))
        return std::nullopt;
    // The CODE column is empty for most files.
    const std::size_t offset = isRecordSize(words[0]) ? 0 : (isRecordSize(words[1]) ? 1 : 2);
    if (offset == 2)
        return std::nullopt;
    std::string_view name = afterFields(line, offset + 8);
    ItemType type = ItemType::File;
    if (name.size() > 1 && name.back() == '/') {
        name.remove_suffix(1);
        type = ItemType::Directory;
    }
    if (name.empty())
        return std::nullopt;
    return newItem(line, name, type);
}

} // namespace

std::unique_ptr<ListParser> makeMPiXParser()
{
    return std::make_unique<LineByLineParser>(
        "MPE/iX:  LISTF",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return words.size() >= 3 && words[0] == "FILENAME" && words[1] == "CODE"
                    && line.find("LOGICAL RECORD") != std::string_view::npos;
            });
        },
        parseListfLine);
}

std::unique_ptr<ListParser> makeMPiXWithPOSIXParser()
{
    return std::make_unique<LineByLineParser>(
        "MPE/iX:  With POSIX",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                if (!words.empty() && words[0].starts_with("PATH="))
                    return true;
                return words.size() >= 3 && words[0] == "CODE" && words.back() == "FILENAME";
            });
        },
        parsePosixLine);
}

} // namespace taskhaul::ftp
