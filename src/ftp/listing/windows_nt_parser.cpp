// Listings in the style of Microsoft's FTP service (IIS) in its default "MS-DOS"
// mode: date, time, "<DIR>" or the size, name.
//
//   04-27-00  12:09PM       <DIR>          Some folder
//   05-26-1995  10:57AM               143712 $LDR$
//   2002-09-02  19:06                9,730 report.txt

#include "ftp/listing/core_parsers.h"
#include "ftp/listing/line_tests.h"

#include <algorithm>

namespace taskhaul::ftp {

namespace {

// Characters `first` to `last` (1-based, inclusive), as far as the text reaches.
std::string_view columns(std::string_view text, std::size_t first, std::size_t last)
{
    if (text.size() < first)
        return {};
    return text.substr(first - 1, last - first + 1);
}

std::string withoutCommas(std::string_view text)
{
    std::string result(text);
    std::erase(result, ',');
    return result;
}

// "mm-dd-yy" or "mm/dd/yy" in the first 8 characters (the year part any number).
bool beginsWithMonthFirstDate(std::string_view line, char separator)
{
    const std::string_view date = columns(line, 1, 8);
    if (std::count(date.begin(), date.end(), separator) != 2)
        return false;
    const std::size_t first = date.find(separator);
    const std::size_t second = date.find(separator, first + 1);
    const std::string_view month = date.substr(0, first);
    const std::string_view day = date.substr(first + 1, second - first - 1);
    const std::string_view year = date.substr(second + 1);
    if (!base::IsDigits(month) || !base::IsDigits(day) || !base::IsDigits(year))
        return false;
    const int m = toIntOr(month, 0);
    const int d = toIntOr(day, 0);
    return m >= 1 && m <= 12 && d >= 1 && d <= 32;
}

// "yyyy-mm-dd" or "yyyy/mm/dd".
bool beginsWithYearFirstDate(std::string_view line)
{
    if (line.size() < 10)
        return false;
    const auto separator = [](char c) { return c == '-' || c == '/'; };
    return separator(line[4]) && separator(line[7]) && base::IsDigits(line.substr(0, 4))
        && base::IsDigits(line.substr(5, 2)) && base::IsDigits(line.substr(8, 2));
}

bool beginsWithDate(std::string_view line)
{
    return beginsWithMonthFirstDate(line, '-') || beginsWithMonthFirstDate(line, '/')
        || beginsWithYearFirstDate(line);
}

// A line with a date first, then "<DIR>" or a size in their fixed columns.
bool qualifies(std::string_view upper)
{
    if (!beginsWithDate(upper))
        return false;
    const std::string_view dirColumn = trimmed(columns(upper, 25, 30));
    const std::string sizeColumn = withoutCommas(trimmed(columns(upper, 31, 38)));
    return dirColumn == "<DIR>" || (dirColumn.empty() && base::ParseInteger(sizeColumn).has_value());
}

// Netware print services lay their columns out so that they can pass for this
// format; their third word is "F" or "D" and their fifth is not "-".
bool looksLikeNetwarePrintServices(std::string_view upper)
{
    const auto words = splitWords(upper);
    return words.size() > 4 && (words[2] == "F" || words[2] == "D") && words[4] != "-";
}

// Hour, minute, second and millisecond, separated by the first character that is
// not a digit; "AM"/"PM" anywhere in the word turns a 12-hour clock into 24 hours.
std::optional<ListDateTime> readTime(std::string_view word)
{
    const std::size_t separatorAt = word.find_first_not_of("0123456789");
    const char separator = separatorAt == std::string_view::npos ? '\0' : word[separatorAt];
    int fields[4] = { 0, 0, 0, 0 };
    std::size_t start = 0;
    for (int& field : fields) {
        if (start > word.size())
            break;
        const std::size_t end = separator ? word.find(separator, start) : std::string_view::npos;
        std::string_view text = word.substr(start, end == std::string_view::npos ? end : end - start);
        // The last field may carry the AM/PM marker.
        text = text.substr(0, text.find_first_not_of("0123456789"));
        if (text.empty())
            return std::nullopt;
        field = toIntOr(text, -1);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    const std::string upper = base::AsciiUpper(word);
    if (upper.find("PM") != std::string::npos && fields[0] < 12)
        fields[0] += 12;
    else if (upper.find("AM") != std::string::npos && fields[0] == 12)
        fields[0] = 0;
    if (!ListDateTime::isValidTime(fields[0], fields[1], fields[2], fields[3]))
        return std::nullopt;
    return ListDateTime { 0, 0, 0, fields[0], fields[1], fields[2], fields[3] };
}

std::string_view firstWord(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

TFtpListItem parseLine(const std::string& line, const std::string& folderPrefix, int currentYear)
{
    TFtpListItem item;
    item.Data = line;

    std::optional<int> year;
    std::optional<int> month;
    std::optional<int> day;
    std::string_view rest;
    const auto number = [](std::string_view text) -> std::optional<int> {
        return base::IsDigits(text) ? std::optional<int>(toIntOr(text, -1)) : std::nullopt;
    };
    if (base::IsDigits(columns(line, 1, 4)) && columns(line, 1, 4).size() == 4) {
        year = number(columns(line, 1, 4));
        month = number(columns(line, 6, 7));
        day = number(columns(line, 9, 10));
        rest = line.size() > 10 ? std::string_view(line).substr(10) : std::string_view {};
    } else if (const std::string_view longYear = columns(line, 7, 10);
               longYear.size() == 4 && base::IsDigits(longYear)) {
        // "mm-dd-yyyy": IIS with four-digit years.
        month = number(columns(line, 1, 2));
        day = number(columns(line, 4, 5));
        year = number(longYear);
        rest = line.size() > 10 ? std::string_view(line).substr(10) : std::string_view {};
    } else {
        month = number(columns(line, 1, 2));
        day = number(columns(line, 4, 5));
        year = number(columns(line, 7, 8));
        if (year)
            year = expandTwoDigitYear(*year, currentYear);
        rest = line.size() > 8 ? std::string_view(line).substr(8) : std::string_view {};
    }
    rest = trimmed(rest);
    const std::string_view timeWord = firstWord(rest);
    const auto time = readTime(timeWord);
    if (year && month && day && time && ListDateTime::isValidDate(*year, *month, *day)) {
        item.ModifiedDate = *time;
        item.ModifiedDate.year = *year;
        item.ModifiedDate.month = *month;
        item.ModifiedDate.day = *day;
    }

    rest = trimmed(rest.substr(timeWord.size()));
    const std::string_view sizeWord = firstWord(rest);
    std::string_view name = rest.substr(std::min(rest.size(), sizeWord.size() + 1));
    if (base::AsciiUpper(withoutCommas(sizeWord)) == "<DIR>") {
        item.ItemType = ItemType::Directory;
        item.SizeAvailable = false;
        // The name column begins 9 blanks further on.
        name = name.substr(std::min<std::size_t>(name.size(), 9));
    } else {
        item.ItemType = ItemType::File;
        item.Size = base::ParseInteger(withoutCommas(sizeWord)).value_or(0);
    }

    std::string fileName(name);
    if (!folderPrefix.empty()) {
        fileName = folderPrefix + "\\" + fileName;
        if (fileName.starts_with(".\\"))
            fileName.erase(0, 2);
    }
    item.FileName = std::move(fileName);
    return item;
}

class WindowsNTParser final : public ListParser {
public:
    std::string_view ident() const override { return "Windows NT"; }

    bool check(const ListingLines& lines, std::string_view, bool) const override
    {
        bool accepted = false;
        for (const std::string& line : lines) {
            if (line.empty() || isSubfolderBanner(line))
                continue;
            if (!beginsWithDate(line)) // cheap first: most lines of other formats stop here
                continue;
            const std::string upper = base::AsciiUpper(line);
            if (qualifies(upper))
                accepted = !looksLikeNetwarePrintServices(upper);
        }
        return accepted;
    }

    void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override
    {
        items.reserve(static_cast<std::size_t>(items.count()) + lines.size());
        std::string folderPrefix;
        for (const std::string& line : lines) {
            if (line.empty())
                continue;
            if (isSubfolderBanner(line)) {
                folderPrefix = line.substr(0, line.size() - 1);
                continue;
            }
            items.add(parseLine(line, folderPrefix, context.today.year));
        }
    }
};

} // namespace

std::unique_ptr<ListParser> makeWindowsNTParser()
{
    return std::make_unique<WindowsNTParser>();
}

} // namespace taskhaul::ftp
