// IBM VSE listings (TCP/IP for VSE): the root with its kinds of file system, the
// librarian's libraries and sublibraries, the POWER queues, VSAM catalogs and the
// VTOC of a disk. Each view has its own layout:
//
//   root         LIBRARY  PRD2                 kind, then the name of the entry
//   library      CONFIG   <Sub Library>  2004/05/01 10:11
//   sublibrary   MEMBER.PHASE  123  2004/05/01  10:11     member, size, date (year
//                first, YYYY or YY), time
//   POWER queue  PAYROLL  01234  0  A  D  3  000123       job name, number, ...
//   VSAM catalog CLUSTER.NAME  K  000120  ...           type E, K or R
//   VTOC         DATA.SET.NAME  S  3  ...                type S, D, V, I or U
//
// Only the library and root entries are folders; queue entries and VSAM or VTOC
// data sets are fetched as files.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

std::optional<ListDateTime> slashDateTime(std::string_view date, std::string_view time, int currentYear)
{
    const auto parts = dateParts(date, '/');
    const auto clock = parseTime(time);
    if (!parts || !clock)
        return std::nullopt;
    // The year comes first, with two or four digits.
    return makeDateTime(wholeYear((*parts)[0], currentYear), (*parts)[1], (*parts)[2], *clock);
}

// ---- Library: its sublibraries ---------------------------------------------------------

bool isSublibraryEntry(std::string_view line)
{
    return line.find("<Sub Library>") != std::string_view::npos && fields(line).size() >= 3;
}

std::optional<TFtpListItem> parseLibraryLine(std::string_view line, const ListParseContext& context)
{
    if (!isSublibraryEntry(line))
        return std::nullopt;
    const Words words = fields(line);
    TFtpListItem item = newItem(line, words[0], ItemType::Directory);
    const Words after = fields(line.substr(line.find("<Sub Library>") + 13));
    if (after.size() >= 2)
        setDate(item, slashDateTime(after[0], after[1], context.today.year));
    return item;
}

// ---- POWER queue -----------------------------------------------------------------------

bool isQueueLine(const Words& words)
{
    return words.size() >= 6 && isUpperLetters(words[0].substr(0, 1)) && words[1].size() == 5
        && base::IsDigits(words[1]) && base::IsDigits(words[2]) && words[3].size() == 1
        && words[4].size() == 1 && base::IsDigits(words[5]);
}

std::optional<TFtpListItem> parseQueueLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (!isQueueLine(words))
        return std::nullopt;
    // Job names repeat; name and number together are unique in a queue.
    return newItem(line, std::string(words[0]) + "." + std::string(words[1]));
}

// ---- Root ------------------------------------------------------------------------------

bool isRootKind(std::string_view word)
{
    return word == "LIBRARY" || word == "POWER" || word == "VSAM" || word == "VTOC" || word == "ICCF"
        || word == "DIRECTORY";
}

std::optional<TFtpListItem> parseRootLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (words.size() < 2 || !isRootKind(words[0]))
        return std::nullopt;
    return newItem(line, words[1], ItemType::Directory);
}

// ---- Sublibrary: its members -------------------------------------------------------------

bool isMemberLine(const Words& words)
{
    return words.size() == 4 && base::IsDigits(words[1]) && dateParts(words[2], '/') && parseTime(words[3]);
}

std::optional<TFtpListItem> parseMemberLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (!isMemberLine(words))
        return std::nullopt;
    TFtpListItem item = newItem(line, words[0]);
    setSize(item, base::ParseInteger(words[1]));
    setDate(item, slashDateTime(words[2], words[3], context.today.year));
    return item;
}

// ---- VSAM catalog and VTOC -------------------------------------------------------------

bool isTypedDataSet(const Words& words, std::string_view types)
{
    return words.size() >= 3 && words[1].size() == 1 && types.find(words[1][0]) != std::string_view::npos
        && base::IsDigits(words[2]);
}

template <char... Types>
std::optional<TFtpListItem> parseDataSetLine(std::string_view line, const ListParseContext&)
{
    static constexpr char kTypes[] = { Types..., '\0' };
    const Words words = fields(line);
    if (!isTypedDataSet(words, kTypes))
        return std::nullopt;
    return newItem(line, words[0]);
}

} // namespace

std::unique_ptr<ListParser> makeVSELibraryParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  Library",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isSublibraryEntry(line); });
        },
        parseLibraryLine);
}

std::unique_ptr<ListParser> makeVSEPowerQueueParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  PowerQueue",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isQueueLine(fields(line)); });
        },
        parseQueueLine);
}

std::unique_ptr<ListParser> makeVSERootDirParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  Root Directory",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return words.size() >= 2 && words.size() <= 4 && isRootKind(words[0]);
            });
        },
        parseRootLine);
}

std::unique_ptr<ListParser> makeVSESubLibraryParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  Sublibrary",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return isMemberLine(fields(line)); });
        },
        parseMemberLine);
}

std::unique_ptr<ListParser> makeVSEVSAMCatalogParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  VSAM Catalog",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return isTypedDataSet(fields(line), "EKR"); });
        },
        parseDataSetLine<'E', 'K', 'R'>);
}

std::unique_ptr<ListParser> makeVSEVTOCParser()
{
    return std::make_unique<LineByLineParser>(
        "VSE:  VTOC",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return isTypedDataSet(fields(line), "SDVIU"); });
        },
        parseDataSetLine<'S', 'D', 'V', 'I', 'U'>);
}

} // namespace taskhaul::ftp
