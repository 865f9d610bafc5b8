#include "ftp/listing/line_tests.h"

#include <array>
#include <charconv>
#include <limits>

namespace taskhaul::ftp {

namespace {

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isTrimmable(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

bool oneOf(char c, std::string_view set)
{
    return set.find(c) != std::string_view::npos;
}

} // namespace

std::string upperCase(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = upper(c);
    return result;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isTrimmable(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isTrimmable(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isNumber(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!isDigit(c))
            return false;
    return true;
}

std::optional<std::int64_t> toInt64(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

int toIntOr(std::string_view text, int fallback)
{
    const auto value = toInt64(text);
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*value);
}

std::vector<std::string_view> splitWords(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (pos == line.size())
            break;
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ')
            ++pos;
        words.push_back(line.substr(start, pos - start));
    }
    return words;
}

bool isPermissionsField(std::string_view text)
{
    if (text.size() <= 9)
        return false;
    // Allowed characters per position, upper-cased.
    static constexpr std::array<std::string_view, 10> kAllowed = {
        "-BCDLPS", // 1: entry type
        "-RSTWX", "-ARSTWX", "-RSTWX", // 2-4: owner
        "-HRSTWX", "-RSTWX", "-RSTWXY", // 5-7: group
        "-ARSTWX", "-RSTWX", "-RSTWX", // 8-10: others
    };
    for (std::size_t i = 0; i < kAllowed.size(); ++i)
        if (!oneOf(upper(text[i]), kAllowed[i]))
            return false;
    return true;
}

bool isTotalLine(std::string_view line)
{
    if (line.size() < 5 || line.back() == ':')
        return false;
    return upperCase(line.substr(0, 5)) == "TOTAL";
}

bool isSubfolderBanner(std::string_view line)
{
    return !line.empty() && line.back() == ':' && !isPermissionsField(line);
}

int monthFromName(std::string_view text)
{
    static constexpr std::array<std::string_view, 12> kMonths
        = { "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC" };
    if (text.size() != 3)
        return 0;
    const std::string name = upperCase(text);
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (name == kMonths[i])
            return static_cast<int>(i) + 1;
    return 0;
}

int expandTwoDigitYear(int year, int currentYear)
{
    if (year >= 1000)
        return year;
    const int century = currentYear / 100;
    return year > 50 ? (century - 1) * 100 + year : century * 100 + year;
}

bool isBlankLine(std::string_view line)
{
    for (char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

bool isSeparatorLine(std::string_view line)
{
    for (char c : line)
        if (c != ' ' && c != '+' && c != '-' && static_cast<unsigned char>(c) != 0x96)
            return false;
    return true;
}

const std::string* firstContentLine(const ListingLines& lines)
{
    for (const std::string& line : lines)
        if (!isBlankLine(line) && !isSeparatorLine(line))
            return &line;
    return nullptr;
}

} // namespace taskhaul::ftp
