#include "ftp/listing/line_tests.h"

#include <array>
#include <limits>

namespace taskhaul::ftp {

namespace {

bool isTrimmable(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

bool oneOf(char c, std::string_view set)
{
    return set.find(c) != std::string_view::npos;
}

} // namespace

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isTrimmable(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isTrimmable(text.back()))
        text.remove_suffix(1);
    return text;
}

int toIntOr(std::string_view text, int fallback)
{
    return static_cast<int>(
        base::ParseInteger(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())
            .value_or(fallback));
}

bool isPermissionsField(std::string_view text)
{
    // Allowed characters per position, upper-cased.
    static constexpr std::array<std::string_view, 10> kAllowed = {
        "-BCDLPS", // 1: entry type
        "-RSTWX", "-ARSTWX", "-RSTWX", // 2-4: owner
        "-HRSTWX", "-RSTWX", "-RSTWXY", // 5-7: group
        "-ARSTWX", "-RSTWX", "-RSTWX", // 8-10: others
    };
    const auto matches = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (!oneOf(base::AsciiUpper(text[i]), kAllowed[i]))
                return false;
        return true;
    };
    if (text.size() > 9 && matches(10))
        return true;
    // Owner and group alone ("-rw-r--", as fax servers print it): a word of its
    // own, with at least one permission in it (a run of dashes is a separator).
    constexpr std::size_t kShort = 7;
    if (text.size() < kShort || (text.size() > kShort && text[kShort] != ' ' && text[kShort] != '\t'))
        return false;
    return matches(kShort) && text.substr(1, kShort - 1).find_first_not_of('-') != std::string_view::npos;
}

bool isTotalLine(std::string_view line)
{
    if (line.size() < 5 || line.back() == ':')
        return false;
    return base::AsciiUpper(line.substr(0, 5)) == "TOTAL";
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
    const std::string name = base::AsciiUpper(text);
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
