#include "transfer/file_template.h"

#include "base/text.h"
#include "transfer/calendar.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <vector>

namespace taskhaul {

namespace {

using calendar::Date;

std::string Digits(int value)
{
    return std::to_string(value);
}

std::string TwoDigits(int value)
{
    std::array<char, 16> text {};
    std::snprintf(text.data(), text.size(), "%02d", value);
    return text.data();
}

std::string FourDigits(int value)
{
    std::array<char, 16> text {};
    std::snprintf(text.data(), text.size(), "%04d", value);
    return text.data();
}

int LastTwoDigits(int year)
{
    return (year % 100 + 100) % 100;
}

bool Contains(std::string_view text, std::string_view part)
{
    return text.find(part) != std::string_view::npos;
}

// Which kinds of previous-date field a template holds, found by looking for the
// beginnings of the fields: "[pdd]" and "[pd]" both count as the day kind.
struct PreviousKinds {
    bool day = false;
    bool month = false;
    bool year = false;

    bool any() const { return day || month || year; }
    bool dayOnly() const { return day && !month && !year; }
};

PreviousKinds DetectPreviousKinds(std::string_view nameTemplate)
{
    return { Contains(nameTemplate, "[pd"), Contains(nameTemplate, "[pM"), Contains(nameTemplate, "[pyy") };
}

// Steps back one unit of each kind present, always day, then month, then year.
Date PreviousDate(Date today, PreviousKinds kinds)
{
    Date date = today;
    if (kinds.day)
        date = calendar::DayBack(date);
    if (kinds.month)
        date = calendar::MonthBack(date);
    if (kinds.year)
        date = calendar::YearBack(date);
    return date;
}

// Values of every field at one moment. When the day is the only previous-date
// kind, a template such as [yyyy][MM][pdd] must still name yesterday on the first
// of a month (and of a year): its month (and year) fields then read the previous
// date as well.
class FieldValues {
public:
    FieldValues(const LocalDateTime& now, int sequence, PreviousKinds kinds)
        : now_(now)
        , sequence_(std::clamp(sequence, kSequenceMin, kSequenceMax))
    {
        const Date today { now.year, now.month, now.day };
        if (kinds.any())
            previous_ = PreviousDate(today, kinds);
        promoteMonth_ = kinds.dayOnly() && now.day == 1;
        promoteYear_ = promoteMonth_ && now.month == 1;
    }

    // The value of the field named `name` (the text between the brackets), or
    // nothing when no field has that name. Names are case-sensitive.
    std::optional<std::string> value(std::string_view name) const
    {
        const Date previous = previous_.value_or(Date { now_.year, now_.month, now_.day });
        const int year = promoteYear_ ? previous.year : now_.year;
        const int month = promoteMonth_ ? previous.month : now_.month;

        if (name == "yyyy")
            return FourDigits(year);
        if (name == "yy")
            return TwoDigits(LastTwoDigits(year));
        if (name == "MM")
            return TwoDigits(month);
        if (name == "M")
            return Digits(month);
        if (name == "dd")
            return TwoDigits(now_.day);
        if (name == "d")
            return Digits(now_.day);
        if (name == "pyyyy")
            return FourDigits(previous.year);
        if (name == "pyy")
            return TwoDigits(LastTwoDigits(previous.year));
        if (name == "pMM")
            return TwoDigits(previous.month);
        if (name == "pM")
            return Digits(previous.month);
        if (name == "pdd")
            return TwoDigits(previous.day);
        if (name == "pd")
            return Digits(previous.day);
        if (name == "HH")
            return TwoDigits(now_.hour);
        if (name == "H")
            return Digits(now_.hour);
        if (name == "mm")
            return TwoDigits(now_.minute);
        if (name == "m")
            return Digits(now_.minute);
        if (name == "ss")
            return TwoDigits(now_.second);
        if (name == "s")
            return Digits(now_.second);
        if (name == "seq")
            return Digits(sequence_);
        return std::nullopt;
    }

private:
    LocalDateTime now_;
    int sequence_;
    std::optional<Date> previous_;
    bool promoteMonth_ = false;
    bool promoteYear_ = false;
};

// starsFrom[i]: whether text[i..] holds nothing but "*" (true at the end).
std::vector<char> StarsOnlyFrom(std::string_view text)
{
    std::vector<char> starsFrom(text.size() + 1, 1);
    for (std::size_t i = text.size(); i-- > 0;)
        starsFrom[i] = text[i] == '*' && starsFrom[i + 1];
    return starsFrom;
}

} // namespace

std::string ExpandFileTemplate(std::string_view nameTemplate, const LocalDateTime& now, int sequence)
{
    const FieldValues fields(now, sequence, DetectPreviousKinds(nameTemplate));

    // A field is a "[" and the next "]" with no bracket between them; such pairs
    // never overlap and a value is all digits, so one left-to-right pass gives the
    // same text as replacing the fields one name after the other.
    std::string result;
    result.reserve(nameTemplate.size() + 16);
    std::size_t pos = 0;
    while (pos < nameTemplate.size()) {
        const char c = nameTemplate[pos];
        if (c == '[') {
            const std::size_t next = nameTemplate.find_first_of("[]", pos + 1);
            if (next != std::string_view::npos && nameTemplate[next] == ']') {
                if (const auto value = fields.value(nameTemplate.substr(pos + 1, next - pos - 1))) {
                    result += *value;
                    pos = next + 1;
                    continue;
                }
            }
        }
        result += c;
        ++pos;
    }
    return result;
}

std::string TemplateCheckMessage(std::string_view nameTemplate, const LocalDateTime& now, int sequence)
{
    return "The file name is: " + ExpandFileTemplate(nameTemplate, now, sequence);
}

bool MatchFileName(std::string_view pattern, std::string_view name, bool caseSensitive)
{
    if (caseSensitive)
        return WildcardMatch(pattern, name);
    return WildcardMatch(base::AsciiUpper(pattern), base::AsciiUpper(name));
}

// The comparison walks both strings together. At a "*" in either string it tries
// the rest of that string against every remaining position of the other one, and
// a "?" on either side consumes one character of each. Written as a recursion this
// takes exponential time on patterns with many stars; here every result is a
// function of the pair of suffixes being compared, so it is computed once per pair,
// row by row from the ends of the strings.
//
//   F(i, j)  the comparison of a[i..] with b[j..] as a fresh start: both empty is
//            true; one empty is whether the other begins with "*"; otherwise G(i, j).
//   G(i, j)  the walk reaching positions i and j:
//            i = n or j = m:  what is left on either side must be stars only;
//            "?" on a side:   G(i+1, j+1);
//            a[i] = "*":      true when it is a's last character, else
//                             F(i+1, k) for some k in j..m-1;
//            b[j] = "*":      true when it is b's last character, else
//                             F(k, j+1) for some k in i..n-1;
//            otherwise:       a[i] = b[j] and G(i+1, j+1).
bool WildcardMatch(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if (n == 0 && m == 0)
        return true;
    if (n == 0)
        return b.front() == '*';
    if (m == 0)
        return a.front() == '*';

    // Without stars the walk is a plain comparison of equal lengths.
    if (a.find('*') == std::string_view::npos && b.find('*') == std::string_view::npos) {
        if (n != m)
            return false;
        for (std::size_t i = 0; i < n; ++i)
            if (a[i] != b[i] && a[i] != '?' && b[i] != '?')
                return false;
        return true;
    }

    const std::vector<char> aStarsFrom = StarsOnlyFrom(a);
    const std::vector<char> bStarsFrom = StarsOnlyFrom(b);

    // Rows of F for i + 1 (next) and i (current), over j = 0..m; rowAny[j] is
    // F(i+1, j) or any F(i+1, k) with j < k < m; colAny[j] is any F(k, j) with
    // i < k < n.
    std::vector<char> nextF(m + 1), curF(m + 1), nextRowAny(m + 1), curRowAny(m + 1), colAny(m + 1, 0);

    for (std::size_t j = 0; j <= m; ++j)
        nextF[j] = j == m || b[j] == '*'; // row n: a is used up

    for (std::size_t i = n; i-- > 0;) {
        const bool lastRow = i + 1 == n;
        const auto walkFrom = [&](std::size_t j) -> bool { // G(i+1, j)
            if (lastRow)
                return bStarsFrom[j];
            if (j == m)
                return aStarsFrom[i + 1];
            return nextF[j];
        };

        curF[m] = a[i] == '*';
        curRowAny[m] = 0;
        for (std::size_t j = m; j-- > 0;) {
            const char x = a[i];
            const char y = b[j];
            bool result;
            if (x == '?' || y == '?')
                result = walkFrom(j + 1);
            else if (x == '*')
                result = lastRow || nextRowAny[j];
            else if (y == '*')
                result = j + 1 == m || curF[j + 1] || colAny[j + 1];
            else
                result = x == y && walkFrom(j + 1);
            curF[j] = result;
            curRowAny[j] = result || curRowAny[j + 1];
        }
        for (std::size_t j = 0; j < m; ++j)
            colAny[j] = colAny[j] || curF[j];
        std::swap(nextF, curF);
        std::swap(nextRowAny, curRowAny);
    }
    return nextF[0];
}

std::string AppendSlash(std::string_view text)
{
    if (text.empty())
        return {};
    return std::string(text) + '/';
}

} // namespace taskhaul
