// OS/2 listings: "SIZE [ATTRIBUTES] [DIR] MM-DD-YY HH:MM NAME". Servers that are not
// ready for the year 2000 print years after 1999 as 100, 101 and so on.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

std::optional<std::array<int, 3>> os2Date(std::string_view word)
{
    const auto parts = dateParts(word, '-');
    if (!parts || word.size() < 8 || word.size() > 9 || word[2] != '-' || word[5] != '-')
        return std::nullopt;
    return parts;
}

bool isTimeWord(std::string_view word)
{
    return word.size() >= 4 && word.size() <= 5 && word.find(':') != std::string_view::npos
        && parseTime(word);
}

// Index of the date word, or 0 when the line is no OS/2 entry.
std::size_t dateIndex(const Words& words)
{
    if (words.size() < 4 || !base::IsDigits(words[0]))
        return 0;
    for (std::size_t i = 1; i + 2 < words.size() && i <= 3; ++i) {
        if (os2Date(words[i]) && isTimeWord(words[i + 1]))
            return i;
        // Between size and date only attribute letters and the DIR marker may stand.
        if (!isUpperLetters(words[i]))
            return 0;
    }
    return 0;
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    const std::size_t index = dateIndex(words);
    if (index == 0)
        return std::nullopt;
    bool isDir = false;
    for (std::size_t i = 1; i < index; ++i)
        isDir = isDir || words[i] == "DIR";
    TFtpListItem item
        = newItem(line, afterFields(line, index + 2), isDir ? ItemType::Directory : ItemType::File);
    setSize(item, base::ParseInteger(words[0]));
    const auto date = *os2Date(words[index]);
    setDate(item,
        makeDateTime(wholeYear(date[2], context.today.year), date[0], date[1], *parseTime(words[index + 1])));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeOS2Parser()
{
    return std::make_unique<LineByLineParser>(
        "OS/2",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return dateIndex(fields(line)) != 0; });
        },
        parseLine);
}

} // namespace taskhaul::ftp
