// TOPS-20 listings: "NAME.TYPE.GENERATION", one per line, under a "PS:<DIRECTORY>"
// banner, sometimes followed by pages and the date written. The check trusts the
// answer to SYST, as the names alone look like many other systems' names.
// Names keep their generation: it is part of the name the server knows.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isGenerationName(std::string_view word)
{
    const std::size_t last = word.rfind('.');
    return last != std::string_view::npos && last > 0 && word.find('.') < last
        && base::IsDigits(word.substr(last + 1));
}

// "5-Jan-89" or "5-Jan-1989"
std::optional<ListDateTime> tops20Date(std::string_view date, std::string_view time, int currentYear)
{
    const std::size_t first = date.find('-');
    const std::size_t second = first == std::string_view::npos ? first : date.find('-', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::string_view day = date.substr(0, first);
    const std::string_view year = date.substr(second + 1);
    if (!base::IsDigits(day) || !base::IsDigits(year))
        return std::nullopt;
    const auto clock = time.empty() ? std::optional<TimeOfDay>(TimeOfDay {}) : parseTime(time);
    if (!clock)
        return std::nullopt;
    return makeDateTime(wholeYear(toIntOr(year, 0), currentYear),
        monthFromName(date.substr(first + 1, second - first - 1)), toIntOr(day, 0), *clock);
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.empty() || !isGenerationName(words[0]))
        return std::nullopt;
    const std::string_view name = words[0];
    const std::string_view base = name.substr(0, name.rfind('.'));
    const bool isDir = base.ends_with(".DIRECTORY");
    TFtpListItem item = newItem(line, name, isDir ? ItemType::Directory : ItemType::File);
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i].find('-') == std::string_view::npos)
            continue;
        const std::string_view time = i + 1 < words.size() && words[i + 1].find(':') != std::string_view::npos
            ? words[i + 1]
            : std::string_view {};
        if (const auto date = tops20Date(words[i], time, context.today.year)) {
            setDate(item, date);
            break;
        }
    }
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeTOPS20Parser()
{
    return std::make_unique<LineByLineParser>(
        "TOPS20",
        [](const ListingLines&, std::string_view systemDescription) {
            const Words words = fields(systemDescription);
            return !words.empty() && words[0] == "TOPS20";
        },
        parseLine);
}

} // namespace taskhaul::ftp
