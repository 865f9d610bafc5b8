// IBM VM listings: CMS minidisks and SFS folders, the Byte File System, and the
// virtual reader (the spool files waiting for the user).

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isDigitsOrDash(std::string_view word)
{
    return word == "-" || base::IsDigits(word);
}

// ---- CMS ------------------------------------------------------------------------
//
// FNAME FTYPE [FMODE] RECFM LRECL RECORDS BLOCKS DATE TIME [LABEL]; folders show
// "DIR" in place of the type and dashes for the counts. Dates are M/DD/YY, or
// YYYY-MM-DD on z/VM.

std::optional<std::array<int, 3>> cmsDate(std::string_view word, int currentYear)
{
    if (const auto parts = dateParts(word, '/'))
        return std::array<int, 3> { wholeYear((*parts)[2], currentYear), (*parts)[0], (*parts)[1] };
    if (const auto parts = dateParts(word, '-'); parts && word.size() == 10)
        return parts;
    return std::nullopt;
}

// Index of the record format column ("F", "V" or "DIR"), or 0 when the line is no
// CMS entry.
std::size_t recordFormatIndex(const Words& words)
{
    for (std::size_t r = 1; r <= 3 && r + 5 < words.size(); ++r) {
        const std::string_view format = words[r];
        const bool isFormat = format == "F" || format == "V" || (r == 1 && format == "DIR");
        if (isFormat && isDigitsOrDash(words[r + 1]) && isDigitsOrDash(words[r + 2])
            && isDigitsOrDash(words[r + 3]) && cmsDate(words[r + 4], 2000) && parseTime(words[r + 5]))
            return r;
    }
    return 0;
}

std::optional<TFtpListItem> parseCmsLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    const std::size_t r = recordFormatIndex(words);
    if (r == 0)
        return std::nullopt;
    const bool isDir = words[r] == "DIR";
    // The size columns count records and blocks, not bytes.
    TFtpListItem item = isDir ? newItem(line, words[0], ItemType::Directory)
                              : newItem(line, std::string(words[0]) + "." + std::string(words[1]));
    const auto date = *cmsDate(words[r + 4], context.today.year);
    setDate(item, makeDateTime(date[0], date[1], date[2], *parseTime(words[r + 5])));
    return item;
}

// ---- Byte File System -------------------------------------------------------------
//
// 'NAME'  F|D  SIZE  MM/DD/YY  HH:MM:SS
// Names may hold blanks, which is why they are quoted; the quotes are no part of them.

struct BfsLine {
    std::string_view name;
    Words rest;
};

std::optional<BfsLine> bfsLine(std::string_view line)
{
    const std::string_view text = trimmed(line);
    if (text.size() < 3 || text.front() != '\'')
        return std::nullopt;
    const std::size_t close = text.rfind('\'');
    if (close == 0)
        return std::nullopt;
    BfsLine result { text.substr(1, close - 1), fields(text.substr(close + 1)) };
    const Words& rest = result.rest;
    if (result.name.empty() || rest.size() < 4 || (rest[0] != "F" && rest[0] != "D")
        || !isDigitsOrDash(rest[1]) || !dateParts(rest[2], '/') || !parseTime(rest[3]))
        return std::nullopt;
    return result;
}

std::optional<TFtpListItem> parseBfsLine(std::string_view line, const ListParseContext& context)
{
    const auto parsed = bfsLine(line);
    if (!parsed)
        return std::nullopt;
    const bool isDir = parsed->rest[0] == "D";
    TFtpListItem item = newItem(line, parsed->name, isDir ? ItemType::Directory : ItemType::File);
    if (!isDir)
        setSize(item, base::ParseInteger(parsed->rest[1]));
    const auto date = *dateParts(parsed->rest[2], '/');
    setDate(item,
        makeDateTime(wholeYear(date[2], context.today.year), date[0], date[1], *parseTime(parsed->rest[3])));
    return item;
}

// ---- Virtual reader ---------------------------------------------------------------
//
// ORIGINID FILE CLASS RECORDS  CPY HOLD DATE  TIME     NAME      TYPE      DIST
// RSCS     0012 A PUN 00000123 001 NONE 12/10 11:04:43 PROFILE   EXEC      SYSPROG
//
// A spool file is fetched by its number, the one column that is unique.

bool isReaderHeader(const Words& words)
{
    return words.size() >= 4 && words[0] == "ORIGINID" && words[1] == "FILE" && words[2] == "CLASS";
}

bool isReaderLine(const Words& words)
{
    return words.size() >= 9 && words[1].size() == 4 && base::IsDigits(words[1]) && words[4].size() == 8
        && base::IsDigits(words[4]) && words[5].size() == 3 && base::IsDigits(words[5]);
}

std::optional<TFtpListItem> parseReaderLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (!isReaderLine(words))
        return std::nullopt;
    TFtpListItem item = newItem(line, words[1]);
    const std::string_view date = words[7];
    const std::size_t slash = date.find('/');
    const auto time = parseTime(words[8]);
    if (slash != std::string_view::npos && time && base::IsDigits(date.substr(0, slash))
        && base::IsDigits(date.substr(slash + 1))) {
        const int month = toIntOr(date.substr(0, slash), 0);
        const int day = toIntOr(date.substr(slash + 1), 0);
        setDate(item, makeDateTime(recentYear(month, day, context.today), month, day, *time));
    }
    return item;
}

} // namespace

std::unique_ptr<ListParser> makeVirtualReaderParser()
{
    return std::make_unique<LineByLineParser>(
        "VM Virtual Reader",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return isReaderHeader(words) || isReaderLine(words);
            });
        },
        parseReaderLine);
}

std::unique_ptr<ListParser> makeVMBFSParser()
{
    return std::make_unique<LineByLineParser>(
        "VM/BFS",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return bfsLine(line).has_value(); });
        },
        parseBfsLine);
}

std::unique_ptr<ListParser> makeVMCMSParser()
{
    return std::make_unique<LineByLineParser>(
        "VM/CMS",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return recordFormatIndex(fields(line)) != 0; });
        },
        parseCmsLine);
}

} // namespace taskhaul::ftp
