// AS/400 (IBM i) listings: "OWNER  SIZE DATE TIME *TYPE NAME", or "OWNER *MEM NAME"
// for the members of a file. Names keep their path part ("FILE.FILE/MEMBER.MBR",
// "/DIR/NAME"): that is the name the server retrieves them by.
//
// The date order follows the server job's date format, which the listing does not
// state. The order is chosen once per listing: the first of YY/MM/DD, MM/DD/YY and
// DD/MM/YY under which every date of the listing is a real day not after today.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

#include <algorithm>

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isObjectType(std::string_view word)
{
    return word.size() > 1 && word[0] == '*' && isUpperLetters(word.substr(1));
}

std::optional<std::array<int, 3>> numericDate(std::string_view word)
{
    for (char separator : { '/', '.', '-' })
        if (const auto parts = dateParts(word, separator))
            return parts;
    return std::nullopt;
}

// Index of the object type word, or 0 when the line is no AS/400 entry.
std::size_t objectTypeIndex(const Words& words)
{
    if (words.size() >= 3 && isObjectType(words[1]))
        return 1;
    if (words.size() >= 6 && isObjectType(words[4]) && base::IsDigits(words[1]) && numericDate(words[2])
        && parseTime(words[3]))
        return 4;
    return 0;
}

enum class DateOrder { YearMonthDay, MonthDayYear, DayMonthYear };

std::optional<ListDateTime> dateIn(
    DateOrder order, const std::array<int, 3>& parts, TimeOfDay time, const ListDateTime& today)
{
    int year = 0, month = 0, day = 0;
    switch (order) {
    case DateOrder::YearMonthDay:
        year = parts[0], month = parts[1], day = parts[2];
        break;
    case DateOrder::MonthDayYear:
        month = parts[0], day = parts[1], year = parts[2];
        break;
    case DateOrder::DayMonthYear:
        day = parts[0], month = parts[1], year = parts[2];
        break;
    }
    const auto date = makeDateTime(wholeYear(year, today.year), month, day, time);
    if (!date || std::tie(date->year, date->month, date->day) > std::tie(today.year, today.month, today.day))
        return std::nullopt;
    return date;
}

DateOrder dateOrderOf(const ListingLines& lines, const ListDateTime& today)
{
    std::vector<std::array<int, 3>> dates;
    for (const std::string& line : lines) {
        const Words words = fields(line);
        if (objectTypeIndex(words) == 4)
            dates.push_back(*numericDate(words[2]));
    }
    for (DateOrder order : { DateOrder::YearMonthDay, DateOrder::MonthDayYear, DateOrder::DayMonthYear }) {
        const bool fits = std::all_of(dates.begin(), dates.end(),
            [&](const std::array<int, 3>& parts) { return dateIn(order, parts, {}, today).has_value(); });
        if (fits)
            return order;
    }
    return DateOrder::YearMonthDay;
}

class AS400Parser final : public ListParser {
public:
    std::string_view ident() const override { return "AS400"; }

    bool check(const ListingLines& lines, std::string_view, bool) const override
    {
        return firstContentLineIs(
            lines, [](std::string_view line) { return objectTypeIndex(fields(line)) != 0; });
    }

    void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override
    {
        const DateOrder order = dateOrderOf(lines, context.today);
        for (const std::string& line : lines) {
            const Words words = fields(line);
            const std::size_t typeIndex = objectTypeIndex(words);
            if (typeIndex == 0)
                continue;
            std::string_view name = afterFields(line, typeIndex + 1);
            const std::string_view type = words[typeIndex];
            bool isDir = type == "*DIR" || type == "*LIB" || type == "*FLR" || type == "*DDIR";
            if (name.size() > 1 && name.back() == '/') {
                name.remove_suffix(1);
                isDir = true;
            }
            if (name.empty())
                continue;
            TFtpListItem item = newItem(line, name, isDir ? ItemType::Directory : ItemType::File);
            if (typeIndex == 4) {
                setSize(item, base::ParseInteger(words[1]));
                setDate(item, dateIn(order, *numericDate(words[2]), *parseTime(words[3]), context.today));
            }
            items.add(std::move(item));
        }
    }
};

} // namespace

std::unique_ptr<ListParser> makeAS400Parser()
{
    return std::make_unique<AS400Parser>();
}

} // namespace taskhaul::ftp
