#pragma once

// Building blocks shared by the parsers of the less common listing formats: field
// splitting that treats tabs as blanks, date and time pieces, and a parser class for
// formats whose every line stands alone.

#include "ftp/listing/line_tests.h"
#include "ftp/listing/list_parser.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace taskhaul::ftp::family {

// The line split at blanks and tabs; runs of them count as one separator.
inline std::vector<std::string_view> fields(std::string_view line)
{
    return base::SplitWords(line, base::kBlanksAndTabs);
}

// What follows the first `count` fields of `line`, without the blanks and tabs
// before it and after it. Empty when the line has no more fields.
std::string_view afterFields(std::string_view line, std::size_t count);

// Upper-case letters A to Z only, at least one.
bool isUpperLetters(std::string_view text);

// A size column: digits, optionally grouped with "," or "."; nothing otherwise.
std::optional<std::int64_t> parseSize(std::string_view text);

// The parts of a numeric date such as "12/30/97" or "2003-05-21": exactly three
// runs of digits separated by `separator`.
std::optional<std::array<int, 3>> dateParts(std::string_view text, char separator);

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "h:mm", "hh:mm:ss" or "hh:mm:ss.ff" (fractions ignored), optionally followed
// directly by "AM"/"PM" or "A"/"P" (any case). Nothing for anything else, including
// impossible times.
std::optional<TimeOfDay> parseTime(std::string_view text);

// A valid date and time, or nothing.
std::optional<ListDateTime> makeDateTime(int year, int month, int day, TimeOfDay time = {});

// The year of a month and day printed without one: the current year of `today`,
// or the year before when that day lies after today.
int recentYear(int month, int day, const ListDateTime& today);

// A two-digit (or "years since 1900", e.g. 103) year made whole: years of three
// digits count from 1900, smaller ones go through expandTwoDigitYear.
int wholeYear(int year, int currentYear);

// An item for `line` named `name`, a file of unknown size and date until told otherwise.
TFtpListItem newItem(std::string_view line, std::string_view name, ItemType type = ItemType::File);
void setDate(TFtpListItem& item, const std::optional<ListDateTime>& date);
void setSize(TFtpListItem& item, const std::optional<std::int64_t>& size);

// A format in which each line is an entry or nothing.
class LineByLineParser : public ListParser {
public:
    using Check = bool (*)(const ListingLines& lines, std::string_view systemDescription);
    using ParseLine = std::optional<TFtpListItem> (*)(std::string_view line, const ListParseContext& context);

    LineByLineParser(std::string_view ident, Check check, ParseLine parseLine)
        : ident_(ident)
        , check_(check)
        , parseLine_(parseLine)
    {
    }

    std::string_view ident() const override { return ident_; }
    bool check(const ListingLines& lines, std::string_view systemDescription, bool) const override
    {
        return check_(lines, systemDescription);
    }
    void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override;

private:
    std::string_view ident_;
    Check check_;
    ParseLine parseLine_;
};

// The first line that is neither blank nor a separator line passes `test`.
template <typename Test> bool firstContentLineIs(const ListingLines& lines, Test test)
{
    const std::string* line = firstContentLine(lines);
    return line && test(std::string_view(*line));
}

} // namespace taskhaul::ftp::family
