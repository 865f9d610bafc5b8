// Unix long listings ("ls -l" as most FTP servers print it) and Unitree, which
// prints the same lines with a storage-state column.

#include "ftp/listing/core_parsers.h"
#include "ftp/listing/line_tests.h"
#include "ftp/listing/unix_dates.h"
#include "ftp/listing/unix_fields.h"

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

// The columns before the size: inode and block count ("ls -is"), the
// permissions, the link count, owner and group. Gives the permissions word;
// `ownerAndGroupRead` tells whether two words were taken as owner and group.
std::string_view readOwnershipColumns(FieldReader& fields, std::string_view line, TFtpListItem& item,
    TFtpListItemExtras& extras, bool& ownerAndGroupRead)
{
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

    ownerAndGroupRead = false;
    const std::string_view linkWord = fields.next();
    if (base::AsciiUpper(linkWord) == "FOLDER") // NetPresenz prints "folder" and no owner or group
        return permissions;
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
    return permissions;
}

// The size column when the date already follows what was read as owner and
// group: the group column is missing and the "group" is the size, or owner or
// group names hold blanks ("Domain Users") and the group runs up to the first
// number that the date follows ("bug 38634" inside a name is no size).
std::string_view readSizeAfterShortOwnership(
    FieldReader& fields, TFtpListItem& item, TFtpListItemExtras& extras)
{
    if (base::IsDigits(extras.GroupName)) {
        item.Size = base::ParseInteger(extras.GroupName).value_or(0);
        extras.GroupName.swap(extras.OwnerName);
        extras.OwnerName.clear();
        return {};
    }
    while (fields.peekWord()) {
        const std::string_view word = fields.next();
        if (base::IsDigits(word) && (beginsDate(fields) || !fields.peekWord()))
            return word;
        extras.GroupName += ' ';
        extras.GroupName += word;
    }
    return {};
}

// The size column, and a Unitree storage state and file family before it.
void readSizeColumn(
    FieldReader& fields, bool ownerAndGroupRead, TFtpListItem& item, TFtpListItemExtras& extras)
{
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
        size = readSizeAfterShortOwnership(fields, item, extras);
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
}

// The time of day, or the year where recent entries print the time, and the
// item's date from them and `date`.
void readTimeColumn(FieldReader& fields, ListedDate date, const ListDateTime& today, bool takeTimeAfterYear,
    DateColumns* columns, TFtpListItem& item)
{
    TimeFields time;
    int millisecond = 999;
    if (date.yearWithDate) {
        if (const auto after = fields.peekWord(); after && after->find(':') != std::string_view::npos) {
            time = readTimeOfDay(fields.next());
            millisecond = time.millisecond.value_or(999);
        }
    } else if (const std::string_view timeOrYear = fields.next();
               timeOrYear.find(':') == std::string_view::npos) {
        date.year = toIntOr(timeOrYear, 0);
        // "Mar 12 2014 10:45": some servers print both. Whether the time belongs
        // to the date or begins the name, the listing as a whole decides.
        const auto after = fields.peekWord();
        const bool timeFollows = after && isTimeOfDay(*after);
        if (columns) {
            columns->yearPrinted = true;
            columns->timeAfterYear = timeFollows;
        }
        if (timeFollows && takeTimeAfterYear) {
            time = readTimeOfDay(fields.next());
            millisecond = time.millisecond.value_or(999);
        }
    } else {
        time = readTimeOfDay(timeOrYear);
        millisecond = time.millisecond.value_or(999);
        if (auto after = fields.peekWord(); time.hasSeconds && after && base::IsDigits(*after)) {
            date.year = toIntOr(fields.next(), 0);
        } else {
            // No year printed: the entry is recent, of this year, or of last year
            // when its day is still to come.
            const bool later
                = date.month > today.month || (date.month == today.month && date.day > today.day);
            date.year = later ? today.year - 1 : today.year;
        }
    }
    setModified(item, date.year.value_or(0), date.month, date.day, time, millisecond);
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
    bool ownerAndGroupRead = false;
    const std::string_view permissions = readOwnershipColumns(fields, line, item, extras, ownerAndGroupRead);
    readSizeColumn(fields, ownerAndGroupRead, item, extras);
    const ListedDate date = readDateColumns(fields);
    readTimeColumn(fields, date, today, takeTimeAfterYear, columns, item);
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
