#include "ftp/listing/family_support.h"

namespace taskhaul::ftp::family {

namespace {

bool isFieldSeparator(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::string_view afterFields(std::string_view line, std::size_t count)
{
    std::size_t pos = 0;
    for (std::size_t n = 0; n < count; ++n) {
        while (pos < line.size() && isFieldSeparator(line[pos]))
            ++pos;
        while (pos < line.size() && !isFieldSeparator(line[pos]))
            ++pos;
    }
    while (pos < line.size() && isFieldSeparator(line[pos]))
        ++pos;
    std::string_view rest = line.substr(pos);
    while (!rest.empty() && isFieldSeparator(rest.back()))
        rest.remove_suffix(1);
    return rest;
}

bool isUpperLetters(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < 'A' || c > 'Z')
            return false;
    return true;
}

std::optional<std::int64_t> parseSize(std::string_view text)
{
    if (text.empty() || !base::IsDigits(text.substr(0, 1)) || !base::IsDigits(text.substr(text.size() - 1)))
        return std::nullopt;
    std::string digits;
    digits.reserve(text.size());
    for (char c : text) {
        if (c == ',' || c == '.')
            continue;
        if (c < '0' || c > '9')
            return std::nullopt;
        digits.push_back(c);
    }
    const auto value = base::ParseInteger(digits);
    if (!value || *value < 0)
        return std::nullopt;
    return value;
}

std::optional<std::array<int, 3>> dateParts(std::string_view text, char separator)
{
    std::array<int, 3> parts {};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t end = i + 1 < parts.size() ? text.find(separator) : text.size();
        if (end == std::string_view::npos)
            return std::nullopt;
        const std::string_view part = text.substr(0, end);
        if (!base::IsDigits(part) || part.size() > 4)
            return std::nullopt;
        parts[i] = toIntOr(part, -1);
        text.remove_prefix(std::min(text.size(), end + 1));
    }
    return parts;
}

std::optional<TimeOfDay> parseTime(std::string_view text)
{
    int pmShift = -1; // -1 none, 0 AM, 12 PM
    if (!text.empty()) {
        std::string_view marker = text;
        if (text.ends_with("M") || text.ends_with("m"))
            marker = text.substr(text.size() >= 2 ? text.size() - 2 : 0);
        else
            marker = text.substr(text.size() - 1);
        const char first = base::AsciiUpper(marker.front());
        if (first == 'A' || first == 'P') {
            pmShift = first == 'P' ? 12 : 0;
            text.remove_suffix(marker.size());
        }
    }
    // Fractions of a second are dropped.
    if (const auto dot = text.find('.'); dot != std::string_view::npos)
        text = text.substr(0, dot);
    int values[3] = { 0, 0, 0 };
    int count = 0;
    while (true) {
        const std::size_t colon = text.find(':');
        const std::string_view part = text.substr(0, colon);
        if (count == 3 || !base::IsDigits(part) || part.size() > 2)
            return std::nullopt;
        values[count++] = toIntOr(part, -1);
        if (colon == std::string_view::npos)
            break;
        text.remove_prefix(colon + 1);
    }
    if (count < 2)
        return std::nullopt;
    TimeOfDay time { values[0], values[1], values[2] };
    if (pmShift >= 0) {
        if (time.hour < 1 || time.hour > 12)
            return std::nullopt;
        time.hour = time.hour % 12 + pmShift;
    }
    if (!ListDateTime::isValidTime(time.hour, time.minute, time.second, 0))
        return std::nullopt;
    return time;
}

std::optional<ListDateTime> makeDateTime(int year, int month, int day, TimeOfDay time)
{
    if (!ListDateTime::isValidDate(year, month, day)
        || !ListDateTime::isValidTime(time.hour, time.minute, time.second, 0))
        return std::nullopt;
    return ListDateTime { year, month, day, time.hour, time.minute, time.second, 0 };
}

int recentYear(int month, int day, const ListDateTime& today)
{
    if (month > today.month || (month == today.month && day > today.day))
        return today.year - 1;
    return today.year;
}

int wholeYear(int year, int currentYear)
{
    if (year >= 100 && year < 1000)
        return 1900 + year;
    return expandTwoDigitYear(year, currentYear);
}

TFtpListItem newItem(std::string_view line, std::string_view name, ItemType type)
{
    TFtpListItem item;
    item.Data = std::string(line);
    item.FileName = std::string(name);
    item.ItemType = type;
    item.SizeAvailable = false;
    item.ModifiedAvailable = false;
    return item;
}

void setDate(TFtpListItem& item, const std::optional<ListDateTime>& date)
{
    item.ModifiedAvailable = date.has_value();
    item.ModifiedDate = date.value_or(ListDateTime {});
}

void setSize(TFtpListItem& item, const std::optional<std::int64_t>& size)
{
    item.SizeAvailable = size.has_value();
    item.Size = size.value_or(0);
}

void LineByLineParser::parse(
    const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const
{
    for (const std::string& line : lines)
        if (auto item = parseLine_(line, context))
            items.add(std::move(*item));
}

} // namespace taskhaul::ftp::family
