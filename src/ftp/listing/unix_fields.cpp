#include "ftp/listing/unix_fields.h"

#include "ftp/listing/line_tests.h"
#include "ftp/listing/unix_dates.h"

#include <algorithm>
#include <string>

namespace taskhaul::ftp {

namespace {

// Characters, not bytes: names and month words may be UTF-8.
std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

std::string_view withoutTrailing(std::string_view word, char c)
{
    if (!word.empty() && word.back() == c)
        word.remove_suffix(1);
    return word;
}

// A date of East Asian locales: numbers with their unit signs, in one word or
// several ("2014年03月12日", "2014년 03월 12일", "3月 12"), units in order.
void readUnitDate(FieldReader& fields, UnitNumber part, std::optional<int>& year, int& month, int& day)
{
    for (;;) {
        switch (part.unit) {
        case DateUnit::Year:
            year = part.value;
            break;
        case DateUnit::Month:
            month = part.value;
            break;
        case DateUnit::Day:
            day = part.value;
            break;
        }
        const DateUnit last = part.unit;
        std::optional<UnitNumber> more;
        if (!part.rest.empty()) {
            more = readUnitNumber(part.rest);
        } else if (const auto word = fields.peekWord(); word && last != DateUnit::Day) {
            more = readUnitNumber(*word);
            if (more && more->unit > last)
                fields.next();
        }
        if (!more || more->unit <= last)
            break;
        part = *more;
    }
    if (month != 0 && day == 0)
        day = toIntOr(fields.next(), 0);
}

// "Mon dd", "dd Mon", "mm dd", "yyyy-mm-dd", "mm-dd": numeric dates split at "-"
// and "/" into words of their own; the day comes first when it cannot be a
// month, or when a month name follows.
void readWordDate(FieldReader& fields, std::string_view dateWord, ListedDate& date)
{
    std::size_t start = 0;
    while (start < dateWord.size()) {
        const std::size_t end = std::min(dateWord.find_first_of("-/", start), dateWord.size());
        if (end > start)
            fields.queue(dateWord.substr(start, end - start));
        start = end + 1;
    }
    std::string_view monthWord = fields.next();
    if (characterCount(monthWord) > 3) {
        date.year = toIntOr(monthWord, 0);
        date.yearWithDate = true;
        monthWord = fields.next();
    }
    if (base::IsDigits(monthWord)
        && (toIntOr(monthWord, 0) > 12 || monthFromName(fields.peekWord().value_or("")) != 0)) {
        date.day = toIntOr(monthWord, 0);
        const std::string_view nextWord = fields.next();
        date.month = base::IsDigits(nextWord) ? toIntOr(nextWord, 0) : monthFromName(nextWord);
    } else {
        date.month = base::IsDigits(monthWord) ? toIntOr(monthWord, 0) : monthFromName(monthWord);
        date.day = toIntOr(withoutTrailing(fields.next(), ','), 0); // "Oct 08, 2002"
    }
}

int fieldValue(std::string_view text)
{
    if (text.empty())
        return 0;
    return base::IsDigits(text) ? toIntOr(text, -1) : -1;
}

} // namespace

TimeFields readTimeOfDay(std::string_view word)
{
    TimeFields time;
    const std::size_t colon = word.find(':');
    time.hour = word.substr(0, colon).empty() ? -1 : fieldValue(word.substr(0, colon));
    std::string_view rest = word.substr(colon + 1);
    const std::size_t secondColon = rest.find(':');
    time.minute = fieldValue(rest.substr(0, secondColon));
    if (secondColon == std::string_view::npos)
        return time;
    std::string_view seconds = rest.substr(secondColon + 1);
    time.hasSeconds = true;
    if (const std::size_t dot = seconds.find('.'); dot != std::string_view::npos) {
        std::string fraction(seconds.substr(dot + 1, 3));
        if (base::IsDigits(fraction)) {
            fraction.resize(3, '0');
            time.millisecond = toIntOr(fraction, 0);
        } else {
            time.millisecond = -1;
        }
        seconds = seconds.substr(0, dot);
    }
    if (const std::size_t more = seconds.find(':'); more != std::string_view::npos)
        seconds = seconds.substr(0, more);
    time.second = fieldValue(seconds);
    return time;
}

bool isTimeOfDay(std::string_view word)
{
    const std::size_t colon = word.find(':');
    if (colon == 0 || colon > 2 || !base::IsDigits(word.substr(0, colon)))
        return false;
    const std::string_view minutes = word.substr(colon + 1, 2);
    if (minutes.size() != 2 || !base::IsDigits(minutes))
        return false;
    const std::string_view rest = word.substr(colon + 3);
    if (rest.empty())
        return true;
    if (rest.size() < 3 || rest.front() != ':' || !base::IsDigits(rest.substr(1, 2)))
        return false;
    const std::string_view fraction = rest.substr(3);
    return fraction.empty() || (fraction.front() == '.' && base::IsDigits(fraction.substr(1)));
}

bool beginsDate(FieldReader ahead)
{
    const auto word = ahead.peekWord();
    if (!word)
        return false;
    if (monthFromName(*word) != 0 || readUnitNumber(*word) || dottedYear(*word) != 0 || readDottedDate(*word))
        return true;
    const bool hasDigit = word->find_first_of("0123456789") != std::string_view::npos;
    if (hasDigit && word->find_first_of("-/") != std::string_view::npos)
        return true;
    if (base::IsDigits(*word) && word->size() <= 2) { // "12 Mar", "3 29 03:26"
        ahead.next();
        const auto after = ahead.peekWord();
        return after
            && (monthFromName(*after) != 0 || base::IsDigits(*after)
                || after->find(':') != std::string_view::npos);
    }
    return false;
}

ListedDate readDateColumns(FieldReader& fields)
{
    ListedDate date;
    const std::string_view dateWord = fields.next();
    if (const auto unit = readUnitNumber(dateWord)) {
        readUnitDate(fields, *unit, date.year, date.month, date.day);
        date.yearWithDate = date.year.has_value();
    } else if (dottedYear(dateWord) != 0 && dottedMonth(fields.peekWord().value_or("")) != 0) {
        date.year = dottedYear(dateWord);
        date.month = dottedMonth(fields.next());
        date.day = toIntOr(withoutTrailing(fields.next(), '.'), 0);
        date.yearWithDate = true;
    } else if (const auto dotted = readDottedDate(dateWord)) {
        date.year = dotted->year;
        date.month = dotted->month;
        date.day = dotted->day;
        date.yearWithDate = true;
    } else {
        readWordDate(fields, dateWord, date);
    }
    return date;
}

} // namespace taskhaul::ftp
