// Novell NetWare listings: the NetWare FTP server's own ("d [RWCEAFMS] owner size
// Mon DD HH:MM name"), the Hellsoft server's variant with type and rights run
// together, and the two namespaces of NetWare Print Services for Unix: a DOS style
// with fixed columns and a Unix style with a 12-hour clock.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

// "[RWCEAFMS]", "[R----F--]"
bool isRights(std::string_view word)
{
    return word.size() >= 3 && word.front() == '[' && word.back() == ']'
        && word.find_first_of("[] ", 1) == word.size() - 1;
}

// The first line that is neither blank nor a "total" line.
const std::string* firstEntryLine(const ListingLines& lines)
{
    for (const std::string& line : lines)
        if (!isBlankLine(line) && !isTotalLine(line))
            return &line;
    return nullptr;
}

// "Mon DD HH:MM" or "Mon DD YYYY": a time of day stands for a recent date.
std::optional<ListDateTime> monthDayTimeOrYear(std::string_view monthWord, std::string_view dayWord,
    std::string_view timeOrYear, const ListDateTime& today)
{
    const int month = monthFromName(monthWord);
    const int day = base::IsDigits(dayWord) ? toIntOr(dayWord, 0) : 0;
    if (timeOrYear.find(':') != std::string_view::npos) {
        const auto time = parseTime(timeOrYear);
        if (!time)
            return std::nullopt;
        return makeDateTime(recentYear(month, day, today), month, day, *time);
    }
    if (!base::IsDigits(timeOrYear) || timeOrYear.size() != 4)
        return std::nullopt;
    return makeDateTime(toIntOr(timeOrYear, 0), month, day);
}

ItemType typeOf(char letter)
{
    return letter == 'd' || letter == 'D' ? ItemType::Directory : ItemType::File;
}

// Owner, size, month, day, time or year and name, from word `first` on.
std::optional<TFtpListItem> netwareEntry(
    std::string_view line, const Words& words, std::size_t first, char type, const ListParseContext& context)
{
    if (words.size() < first + 6)
        return std::nullopt;
    const std::string_view name = afterFields(line, first + 5);
    if (name.empty())
        return std::nullopt;
    TFtpListItem item = newItem(line, name, typeOf(type));
    item.mutableExtras().OwnerName = std::string(words[first]);
    setSize(item, parseSize(words[first + 1]));
    setDate(item, monthDayTimeOrYear(words[first + 2], words[first + 3], words[first + 4], context.today));
    return item;
}

// ---- NetWare and Hellsoft ------------------------------------------------------

bool isNetwareLine(const Words& words)
{
    return words.size() >= 8 && (words[0] == "d" || words[0] == "-") && isRights(words[1]);
}

bool isHellsoftLine(const Words& words)
{
    return words.size() >= 7 && words[0].size() > 3 && (words[0][0] == 'd' || words[0][0] == '-')
        && isRights(words[0].substr(1));
}

// ---- Print Services for Unix, DOS namespace ---------------------------------------
//
// MM-DD-YY  HH:MMAM  F            SIZE NAME      (size right-aligned to column 38,
// MM-DD-YY  HH:MMPM  D    <DIR>        NAME       name from column 40)

constexpr std::size_t kDosNameColumn = 39;

bool isDosNamespaceLine(std::string_view line)
{
    return line.size() > kDosNameColumn && line[2] == '-' && line[5] == '-' && line[12] == ':'
        && line[18] == ' ' && (line[19] == 'F' || line[19] == 'D') && line[20] == ' ' && line[38] == ' '
        && dateParts(line.substr(0, 8), '-') && parseTime(trimmed(line.substr(10, 7)));
}

std::optional<TFtpListItem> parseDosNamespaceLine(std::string_view line, const ListParseContext& context)
{
    if (!isDosNamespaceLine(line))
        return std::nullopt;
    const std::string_view name = trimmed(line.substr(kDosNameColumn));
    if (name.empty())
        return std::nullopt;
    TFtpListItem item = newItem(line, name, typeOf(line[19]));
    if (item.ItemType == ItemType::File)
        setSize(item, parseSize(trimmed(line.substr(21, 17))));
    const auto date = *dateParts(line.substr(0, 8), '-');
    setDate(item,
        makeDateTime(wholeYear(date[2], context.today.year), date[0], date[1],
            *parseTime(trimmed(line.substr(10, 7)))));
    return item;
}

// ---- Print Services for Unix, NFS namespace ------------------------------------------
//
// -rw-r--r--  1 owner  group  SIZE Mon DD YYYY HH:MM AM NAME

bool isNfsNamespaceLine(const Words& words)
{
    return words.size() >= 11 && isPermissionsField(words[0]) && (words[9] == "AM" || words[9] == "PM");
}

std::optional<TFtpListItem> parseNfsNamespaceLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (!isNfsNamespaceLine(words))
        return std::nullopt;
    std::string_view name = afterFields(line, 10);
    ItemType type = ItemType::File;
    switch (words[0][0]) {
    case 'd':
        type = ItemType::Directory;
        break;
    case 'l':
        type = ItemType::SymbolicLink;
        break;
    default:
        break;
    }
    std::string target;
    if (const std::size_t arrow = name.find(" -> ");
        type == ItemType::SymbolicLink && arrow != std::string_view::npos) {
        target = std::string(name.substr(arrow + 4));
        name = name.substr(0, arrow);
    }
    TFtpListItem item = newItem(line, name, type);
    TFtpListItemExtras& extras = item.mutableExtras();
    extras.LinkTarget = target;
    extras.LinkCount = toIntOr(words[1], 0);
    extras.OwnerName = std::string(words[2]);
    extras.GroupName = std::string(words[3]);
    extras.OwnerPermissions = std::string(words[0].substr(1, 3));
    extras.GroupPermissions = std::string(words[0].substr(4, 3));
    extras.OtherPermissions = std::string(words[0].substr(7, 3));
    setSize(item, base::ParseInteger(words[4]));
    const std::string time = std::string(words[8]) + std::string(words[9]);
    const auto parsedTime = parseTime(time);
    if (base::IsDigits(words[7]) && parsedTime)
        setDate(item,
            makeDateTime(toIntOr(words[7], 0), monthFromName(words[5]), toIntOr(words[6], 0), *parsedTime));
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeNetwarePSUDosParser()
{
    return std::make_unique<LineByLineParser>(
        "Novell Netware Print Services for Unix:  DOS Namespace",
        [](const ListingLines& lines, std::string_view) {
            const std::string* line = firstEntryLine(lines);
            return line && isDosNamespaceLine(*line);
        },
        parseDosNamespaceLine);
}

std::unique_ptr<ListParser> makeNetwarePSUNFSParser()
{
    return std::make_unique<LineByLineParser>(
        "Novell Netware Print Services for Unix:  NFS Namespace",
        [](const ListingLines& lines, std::string_view) {
            const std::string* line = firstEntryLine(lines);
            return line && isNfsNamespaceLine(fields(*line));
        },
        parseNfsNamespaceLine);
}

std::unique_ptr<ListParser> makeNovellNetwareParser()
{
    return std::make_unique<LineByLineParser>(
        "Novell Netware",
        [](const ListingLines& lines, std::string_view) {
            const std::string* line = firstEntryLine(lines);
            return line && isNetwareLine(fields(*line));
        },
        [](std::string_view line, const ListParseContext& context) -> std::optional<TFtpListItem> {
            const Words words = fields(line);
            if (!isNetwareLine(words))
                return std::nullopt;
            return netwareEntry(line, words, 2, words[0][0], context);
        });
}

std::unique_ptr<ListParser> makeHellSoftParser()
{
    return std::make_unique<LineByLineParser>(
        "Hellsoft",
        [](const ListingLines& lines, std::string_view) {
            const std::string* line = firstEntryLine(lines);
            return line && isHellsoftLine(fields(*line));
        },
        [](std::string_view line, const ListParseContext& context) -> std::optional<TFtpListItem> {
            const Words words = fields(line);
            if (!isHellsoftLine(words))
                return std::nullopt;
            return netwareEntry(line, words, 1, words[0][0], context);
        });
}

} // namespace taskhaul::ftp
