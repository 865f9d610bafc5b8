// Unix long listings ("ls -l" as most FTP servers print it) and Unitree, which
// prints the same lines with a storage-state column.

#include "ftp/listing/core_parsers.h"
#include "ftp/listing/line_tests.h"
#include "ftp/listing/unix_dates.h"

#include <algorithm>
#include <array>
#include <optional>

namespace taskhaul::ftp {

namespace {

bool isStorageState(std::string_view word)
{
    return word == "AR" || word == "DK";
}

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Characters, not bytes: names and month words may be UTF-8.
std::size_t characterCount(std::string_view text)
{
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++count;
    return count;
}

// Reads a line field by field from the left: each field ends at the next blank,
// blanks before a field are skipped. Words can be queued to be read before the
// rest of the line; all words are views into the line.
class FieldReader {
public:
    explicit FieldReader(std::string_view line)
        : rest_(line)
    {
    }

    std::string_view next()
    {
        if (first_ < count_)
            return pending_[first_++];
        rest_ = withoutLeadingBlanks();
        const std::string_view word = rest_.substr(0, rest_.find(' '));
        rest_.remove_prefix(word.size());
        return word;
    }

    // The next field without taking it; nothing at the end of the line.
    std::optional<std::string_view> peekWord() const
    {
        if (first_ < count_)
            return pending_[first_];
        const std::string_view rest = withoutLeadingBlanks();
        if (rest.empty())
            return std::nullopt;
        return rest.substr(0, rest.find(' '));
    }

    // The first character of the next field, or 0 at the end.
    char peekChar() const
    {
        const auto word = peekWord();
        return word && !word->empty() ? word->front() : '\0';
    }

    // Queues a word to be read next, before the rest of the line. A few words at
    // most are ever waiting; words beyond that are never read and are dropped.
    void queue(std::string_view word)
    {
        if (first_ == count_)
            first_ = count_ = 0;
        if (count_ < pending_.size())
            pending_[count_++] = word;
    }
    void dropQueued() { first_ = count_ = 0; }

    // What follows the last field read from the line, after one blank.
    std::string_view restAfterOneBlank() const
    {
        std::string_view rest = rest_;
        if (!rest.empty() && rest.front() == ' ')
            rest.remove_prefix(1);
        return rest;
    }

private:
    std::string_view withoutLeadingBlanks() const
    {
        const std::size_t start = rest_.find_first_not_of(' ');
        return start == std::string_view::npos ? std::string_view {} : rest_.substr(start);
    }

    std::string_view rest_;
    std::array<std::string_view, 8> pending_ {};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
};

ItemType typeFromPermissions(char letter)
{
    switch (letter) {
    case 'D':
    case 'd':
        return ItemType::Directory;
    case 'L':
    case 'l':
        return ItemType::SymbolicLink;
    case 'B':
    case 'b':
        return ItemType::BlockDevice;
    case 'C':
    case 'c':
        return ItemType::CharacterDevice;
    case 'P':
    case 'p':
        return ItemType::Fifo;
    case 'S':
    case 's':
        return ItemType::Socket;
    default:
        return ItemType::File;
    }
}

// A listing without owner and group columns: "-rw-r--r-- 1 1234 Jan 5 2001 name",
// possibly after inode and block-count columns.
bool lacksOwnerAndGroup(std::string_view line)
{
    // Only the first eight words matter; no need to split the whole line.
    std::array<std::string_view, 8> words {};
    std::size_t count = 0;
    for (std::size_t pos = 0; count < words.size();) {
        pos = line.find_first_not_of(' ', pos);
        if (pos == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        words[count++] = line.substr(pos, end - pos);
        pos = end;
    }
    std::size_t first = 0;
    while (first < 2 && first < count && base::IsDigits(words[first]))
        ++first;
    if (count - first <= 5)
        return false;
    const auto word = [&](std::size_t n) { return words[first + n - 1]; };
    return monthFromName(word(4)) != 0 && base::IsDigits(word(5))
        && (base::IsDigits(word(6)) || word(6).find(':') != std::string_view::npos);
}

// A time of day "h:mm", "h:mm:ss" or "h:mm:ss.fff". Fields that are not numbers
// give -1, which no time accepts.
struct TimeFields {
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::optional<int> millisecond;
    bool hasSeconds = false;
};

int fieldValue(std::string_view text)
{
    if (text.empty())
        return 0;
    return base::IsDigits(text) ? toIntOr(text, -1) : -1;
}

TimeFields readTime(std::string_view word)
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

void setModified(TFtpListItem& item, int year, int month, int day, const TimeFields& time, int millisecond)
{
    // A date or time the calendar cannot hold (an unknown month name, "24:00")
    // leaves the item without a date; the rest of the folder is still listed.
    if (!ListDateTime::isValidDate(year, month, day)
        || !ListDateTime::isValidTime(time.hour, time.minute, time.second, millisecond)) {
        item.ModifiedDate = ListDateTime {};
        item.ModifiedAvailable = false;
        return;
    }
    item.ModifiedDate = ListDateTime { year, month, day, time.hour, time.minute, time.second, millisecond };
    item.ModifiedAvailable = true;
}

// "h:mm", "hh:mm" or "hh:mm:ss[.fff]": a word that can only be a time of day.
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

std::string_view withoutTrailing(std::string_view word, char c)
{
    if (!word.empty() && word.back() == c)
        word.remove_suffix(1);
    return word;
}

// Whether the reader stands at the first word of a date: the size column ends
// there. Looks ahead without taking anything.
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

// Whether any of the three triplets lets the entry be run: "x", or "s"/"t" (set-id
// or sticky with execute; "S"/"T" are the same without it).
bool hasExecuteBit(std::string_view permissions)
{
    for (std::size_t at : { 3, 6, 9 }) {
        if (at < permissions.size()) {
            const char c = permissions[at];
            if (c == 'x' || c == 'X' || c == 's' || c == 't')
                return true;
        }
    }
    return false;
}

// `executable`: "ls -F" marks such entries with a trailing "*"; on any other
// entry a "*" belongs to the name.
void finishName(TFtpListItem& item, TFtpListItemExtras& extras, std::string_view nameText, bool executable,
    const std::string& folderPrefix)
{
    std::string name(nameText);
    if (item.ItemType == ItemType::SymbolicLink) {
        if (const std::size_t arrow = name.find(" -> "); arrow != std::string::npos) {
            extras.LinkTarget.assign(name, arrow + 4);
            name.resize(arrow);
            if (!extras.LinkTarget.empty() && extras.LinkTarget.back() == '/') {
                extras.LinkTarget.pop_back();
                item.ItemType = ItemType::SymbolicLinkToDirectory;
            }
        }
    }
    if (!name.empty() && ((name.back() == '*' && executable) || name.back() == '/'))
        name.pop_back();
    if (!folderPrefix.empty()) {
        name = folderPrefix + "/" + name;
        if (name.starts_with("./"))
            name.erase(0, 2);
    }
    item.FileName = std::move(name);
}

// What a line's date columns showed, for the decision the listing makes as a whole.
struct DateColumns {
    bool yearPrinted = false; // a year stood where recent entries print the time
    bool timeAfterYear = false; // and a time of day followed it
};

// The numeric layout: octal mode, owner and group numbers, size, seconds since 1970.
void parseNumericLine(const NumericLine& numeric, const std::string& folderPrefix, TFtpListItem& item,
    TFtpListItemExtras& extras)
{
    item.ItemType = typeFromMode(numeric.mode);
    permissionTriplets(
        numeric.mode, extras.OwnerPermissions, extras.GroupPermissions, extras.OtherPermissions);
    extras.OwnerName = numeric.owner;
    extras.GroupName = numeric.group;
    item.Size = numeric.size;
    item.ModifiedDate = numeric.modified;
    item.ModifiedAvailable = true;
    finishName(item, extras, numeric.name, (numeric.mode & 0111U) != 0, folderPrefix);
}

// Everything but Data; the extra columns go to `extras`, which must be empty.
// A time of day after a printed year is taken as the time with
// `takeTimeAfterYear`, else it begins the name; `columns` learns what was there.
void parseLine(std::string_view line, const std::string& folderPrefix, const ListDateTime& today,
    TFtpListItem& item, TFtpListItemExtras& extras, bool takeTimeAfterYear = false,
    DateColumns* columns = nullptr)
{
    if (const auto numeric = readNumericLine(line)) {
        parseNumericLine(*numeric, folderPrefix, item, extras);
        return;
    }
    FieldReader fields(line);

    // Inode and block-count columns ("ls -is").
    if (auto word = fields.peekWord(); word && !isPermissionsField(*word)) {
        extras.Inode = base::ParseInteger(fields.next()).value_or(0);
        if (word = fields.peekWord(); word && !isPermissionsField(*word))
            extras.BlockCount = base::ParseInteger(fields.next()).value_or(0);
    }

    const std::string_view permissions = fields.next();
    const auto triplet
        = [&](std::size_t at) { return permissions.substr(std::min(at, permissions.size()), 3); };
    item.ItemType = permissions.empty() ? ItemType::File : typeFromPermissions(permissions.front());
    extras.OwnerPermissions = triplet(1);
    extras.GroupPermissions = triplet(4);
    extras.OtherPermissions = triplet(7);

    bool ownerAndGroupRead = false;
    const std::string_view linkWord = fields.next();
    if (base::AsciiUpper(linkWord) != "FOLDER") { // NetPresenz prints "folder" and no owner or group
        if (linkWord.size() >= 4 && linkWord.front() == '0') {
            // A link count of 0 run together with the owner name.
            extras.LinkCount = 0;
            fields.queue(linkWord.substr(1));
        } else {
            extras.LinkCount = toIntOr(linkWord, 0);
        }
        if (!lacksOwnerAndGroup(line)) {
            extras.OwnerName = fields.next();
            extras.GroupName = fields.next();
            ownerAndGroupRead = true;
        }
    }

    std::string_view size;
    if (auto word = fields.peekWord(); word && isStorageState(*word)) {
        extras.StorageState = fields.next();
        size = fields.next();
        // Unitree may print the file family before the size.
        if (!base::IsDigits(size)) {
            if (auto after = fields.peekWord(); after && base::IsDigits(*after)) {
                extras.FamilyName = size;
                size = fields.next();
            }
        }
    } else if (ownerAndGroupRead && isAsciiLetter(fields.peekChar())) {
        // The date follows already: the group column is missing, and what was read
        // as the group is the size.
        if (base::IsDigits(extras.GroupName)) {
            item.Size = base::ParseInteger(extras.GroupName).value_or(0);
            extras.GroupName.swap(extras.OwnerName);
            extras.OwnerName.clear();
        } else {
            // Owner or group names with blanks ("Domain Users"): the group runs up
            // to the first number.
            // A number inside such a name ("bug 38634") is the size only where
            // the date follows it.
            while (fields.peekWord()) {
                const std::string_view word = fields.next();
                if (base::IsDigits(word) && (beginsDate(fields) || !fields.peekWord())) {
                    size = word;
                    break;
                }
                extras.GroupName += ' ';
                extras.GroupName += word;
            }
        }
    } else {
        size = fields.next();
        // An owner name with a blank ("John Smith 500 2048 Mar 12 ..."): the
        // size is the number right before the date.
        while (ownerAndGroupRead && base::IsDigits(size) && !beginsDate(fields)) {
            FieldReader ahead = fields;
            const auto after = ahead.peekWord();
            if (!after || !base::IsDigits(*after))
                break;
            ahead.next();
            if (!beginsDate(ahead))
                break;
            extras.OwnerName += ' ';
            extras.OwnerName += extras.GroupName;
            extras.GroupName = size;
            size = fields.next();
        }
        if (size.find(',') != std::string_view::npos) {
            // "major, minor" of a device; the minor number may be run together with it.
            // A device has size 0.
            if (size.back() == ',')
                fields.next();
            size = {};
        }
    }
    if (!size.empty())
        item.Size = base::ParseInteger(size).value_or(0);

    // Date: "Mon dd", "dd Mon", "mm dd", "yyyy-mm-dd", "mm-dd", "2004.07.15", the
    // unit signs of East Asian locales, "2014. márc. 12." ... Numeric dates split
    // at "-" and "/" into words of their own.
    std::optional<int> year;
    int month = 0;
    int day = 0;
    bool yearWithDate = false; // the date gave the year: a time of day may follow
    const std::string_view dateWord = fields.next();
    if (const auto unit = readUnitNumber(dateWord)) {
        readUnitDate(fields, *unit, year, month, day);
        yearWithDate = year.has_value();
    } else if (dottedYear(dateWord) != 0 && dottedMonth(fields.peekWord().value_or("")) != 0) {
        year = dottedYear(dateWord);
        month = dottedMonth(fields.next());
        day = toIntOr(withoutTrailing(fields.next(), '.'), 0);
        yearWithDate = true;
    } else if (const auto dotted = readDottedDate(dateWord)) {
        year = dotted->year;
        month = dotted->month;
        day = dotted->day;
        yearWithDate = true;
    } else {
        std::size_t start = 0;
        while (start < dateWord.size()) {
            const std::size_t end = std::min(dateWord.find_first_of("-/", start), dateWord.size());
            if (end > start)
                fields.queue(dateWord.substr(start, end - start));
            start = end + 1;
        }
        std::string_view monthWord = fields.next();
        if (characterCount(monthWord) > 3) {
            year = toIntOr(monthWord, 0);
            yearWithDate = true;
            monthWord = fields.next();
        }
        // The day comes first when it cannot be a month, or when a month name follows.
        if (base::IsDigits(monthWord)
            && (toIntOr(monthWord, 0) > 12 || monthFromName(fields.peekWord().value_or("")) != 0)) {
            day = toIntOr(monthWord, 0);
            const std::string_view nextWord = fields.next();
            month = base::IsDigits(nextWord) ? toIntOr(nextWord, 0) : monthFromName(nextWord);
        } else {
            month = base::IsDigits(monthWord) ? toIntOr(monthWord, 0) : monthFromName(monthWord);
            day = toIntOr(withoutTrailing(fields.next(), ','), 0); // "Oct 08, 2002"
        }
    }

    TimeFields time;
    int millisecond = 999;
    if (yearWithDate) {
        if (const auto after = fields.peekWord(); after && after->find(':') != std::string_view::npos) {
            time = readTime(fields.next());
            millisecond = time.millisecond.value_or(999);
        }
    } else if (const std::string_view timeOrYear = fields.next();
               timeOrYear.find(':') == std::string_view::npos) {
        year = toIntOr(timeOrYear, 0);
        // "Mar 12 2014 10:45": some servers print both. Whether the time belongs
        // to the date or begins the name, the listing as a whole decides.
        const auto after = fields.peekWord();
        const bool timeFollows = after && isTimeOfDay(*after);
        if (columns) {
            columns->yearPrinted = true;
            columns->timeAfterYear = timeFollows;
        }
        if (timeFollows && takeTimeAfterYear) {
            time = readTime(fields.next());
            millisecond = time.millisecond.value_or(999);
        }
    } else {
        time = readTime(timeOrYear);
        millisecond = time.millisecond.value_or(999);
        if (auto after = fields.peekWord(); time.hasSeconds && after && base::IsDigits(*after)) {
            year = toIntOr(fields.next(), 0);
        } else {
            // No year printed: the entry is recent, of this year, or of last year
            // when its day is still to come.
            const bool later = month > today.month || (month == today.month && day > today.day);
            year = later ? today.year - 1 : today.year;
        }
    }
    setModified(item, year.value_or(0), month, day, time, millisecond);

    fields.dropQueued(); // the name begins after the last word taken from the line
    finishName(item, extras, fields.restAfterOneBlank(), hasExecuteBit(permissions), folderPrefix);
}

// Empties `extras`, keeping the texts' storage for the next line.
void clearExtras(TFtpListItemExtras& extras)
{
    for (std::string* text :
        { &extras.OwnerPermissions, &extras.GroupPermissions, &extras.OtherPermissions, &extras.OwnerName,
            &extras.GroupName, &extras.LinkTarget, &extras.StorageState, &extras.FamilyName })
        text->clear();
    extras.LinkCount = 0;
    extras.Inode = 0;
    extras.BlockCount = 0;
}

// The extra columns of one line, for an item that asks for them after the parse.
// They do not depend on the date of the parse or the folder the line stood in.
void readExtras(std::string_view line, TFtpListItemExtras& extras)
{
    TFtpListItem item;
    parseLine(line, std::string(), ListDateTime { 2000, 1, 1, 0, 0, 0, 0 }, item, extras);
}

class UnixParser : public ListParser {
public:
    // `takeUnitree` decides which of the two formats this parser stands for.
    explicit UnixParser(bool takeUnitree)
        : takeUnitree_(takeUnitree)
    {
    }

    std::string_view ident() const override { return takeUnitree_ ? "Unitree" : "Unix"; }

    bool check(const ListingLines& lines, std::string_view, bool) const override
    {
        for (const std::string& line : lines) {
            if (line.empty())
                continue;
            // A Unitree banner decides for Unitree: Unix listings never print one.
            if (passesUnixLineTest(line) || isUnitreeBanner(line))
                return isUnitreeLine(line) == takeUnitree_;
            if (readNumericLine(line))
                return !takeUnitree_;
            if (!isTotalLine(line) && !isSubfolderBanner(line))
                return false;
        }
        return false;
    }

    void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override
    {
        items.reserve(static_cast<std::size_t>(items.count()) + lines.size());
        // Lines that showed a year and then a time of day, with the folder they
        // stood in: the time is part of the date only when every line that shows
        // a year shows one (a server that prints both); otherwise such a time
        // begins a name, which is kept whole.
        struct YearThenTime {
            int item;
            std::size_t line;
            std::string folderPrefix;
        };
        std::vector<YearThenTime> yearThenTime;
        std::size_t yearLines = 0;
        std::string folderPrefix;
        TFtpListItemExtras extras;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            if (line.empty() || isTotalLine(line) || line.starts_with("/bin/ls:") || isUnitreeBanner(line))
                continue;
            if (isSubfolderBanner(line) && !passesUnixLineTest(line) && !readNumericLine(line)) {
                folderPrefix = line.substr(0, line.size() - 1);
                continue;
            }
            // The extra columns are read again from the line when someone asks for
            // them; the parse only needs them on the way.
            clearExtras(extras);
            TFtpListItem& item = items.add(TFtpListItem {});
            item.Data = line;
            DateColumns columns;
            parseLine(line, folderPrefix, context.today, item, extras, false, &columns);
            item.readExtrasWith(&readExtras);
            if (columns.yearPrinted)
                ++yearLines;
            if (columns.timeAfterYear)
                yearThenTime.push_back({ items.count() - 1, i, folderPrefix });
        }
        if (yearThenTime.empty() || yearThenTime.size() != yearLines)
            return;
        for (const YearThenTime& entry : yearThenTime) {
            clearExtras(extras);
            TFtpListItem& item = items[entry.item];
            item = TFtpListItem {};
            item.Data = lines[entry.line];
            parseLine(lines[entry.line], entry.folderPrefix, context.today, item, extras, true);
            item.readExtrasWith(&readExtras);
        }
    }

private:
    bool takeUnitree_;
};

} // namespace

bool passesUnixLineTest(std::string_view line)
{
    if (isPermissionsField(line)) {
        const char type = base::AsciiUpper(line.substr(0, 1)).front();
        if (type == 'B' || type == 'C')
            return true;
        const auto words = splitWords(line);
        if (words.size() > 9) {
            if (words[9] == "AM" || words[9] == "PM")
                return false;
            // A month name there belongs to another format's layout, unless the
            // day stands before it and a year or time of day after it ("12 Mar
            // 2014 a name with blanks").
            const bool dayFirst = base::IsDigits(words[5]) && words[5].size() <= 2
                && ((words[7].size() == 4 && base::IsDigits(words[7]))
                    || words[7].find(':') != std::string_view::npos);
            if (words[8].find(':') == std::string_view::npos && monthFromName(words[6].substr(0, 3)) != 0
                && !dayFirst)
                return false;
        }
        return true;
    }
    const std::string upper = base::AsciiUpper(line);
    const auto words = splitWords(upper);
    return words.size() > 3 && base::IsDigits(words[0])
        && (isPermissionsField(words[1]) || (base::IsDigits(words[1]) && isPermissionsField(words[2])));
}

bool isUnitreeBanner(std::string_view line)
{
    return line.starts_with("/") && line.ends_with(").") && line.find('(') != std::string_view::npos;
}

bool isUnitreeLine(std::string_view line)
{
    const auto words = splitWords(line);
    return (words.size() >= 5 && isStorageState(words[4])) || isUnitreeBanner(line);
}

std::unique_ptr<ListParser> makeUnixParser()
{
    return std::make_unique<UnixParser>(false);
}

std::unique_ptr<ListParser> makeUnitreeParser()
{
    return std::make_unique<UnixParser>(true);
}

} // namespace taskhaul::ftp
