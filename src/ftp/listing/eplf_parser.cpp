// EPLF (Easily Parsed LIST Format): "+" and comma-separated facts, a tab, the name.
// Facts used here: "/" a folder, "r" a file that can be retrieved, "s<bytes>" the
// size, "m<seconds since 1970>" the modification time (UTC).

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

#include <ctime>

namespace taskhaul::ftp {

namespace {

using namespace family;

bool isEplfLine(std::string_view line)
{
    return line.size() > 2 && line[0] == '+' && line.find('\t') != std::string_view::npos;
}

std::optional<ListDateTime> fromUnixTime(std::string_view seconds)
{
    const auto value = base::ParseInteger(seconds);
    // Years 1 to 9999 at most; anything wider is no time a server keeps.
    if (!value || *value < -62135596800LL || *value > 253402300799LL)
        return std::nullopt;
    const std::time_t time = static_cast<std::time_t>(*value);
    std::tm parts {};
    if (!gmtime_r(&time, &parts))
        return std::nullopt;
    return makeDateTime(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
        TimeOfDay { parts.tm_hour, parts.tm_min, parts.tm_sec });
}

std::optional<TFtpListItem> parseLine(std::string_view line, const ListParseContext&)
{
    if (!isEplfLine(line))
        return std::nullopt;
    const std::size_t tab = line.find('\t');
    const std::string_view name = line.substr(tab + 1);
    if (name.empty())
        return std::nullopt;
    std::string_view facts = line.substr(1, tab - 1);
    TFtpListItem item = newItem(line, name);
    while (!facts.empty()) {
        const std::size_t comma = facts.find(',');
        const std::string_view fact = facts.substr(0, comma);
        facts.remove_prefix(comma == std::string_view::npos ? facts.size() : comma + 1);
        if (fact == "/")
            item.ItemType = ItemType::Directory;
        else if (fact.size() > 1 && fact[0] == 's')
            setSize(item, parseSize(fact.substr(1)));
        else if (fact.size() > 1 && fact[0] == 'm')
            setDate(item, fromUnixTime(fact.substr(1)));
    }
    if (item.ItemType == ItemType::Directory)
        setSize(item, std::nullopt);
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeEPLFParser()
{
    return std::make_unique<LineByLineParser>(
        "EPLF",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isEplfLine(line); });
        },
        parseLine);
}

} // namespace taskhaul::ftp
