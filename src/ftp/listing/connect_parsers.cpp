// Sterling Commerce CONNECT products: the mailbox listings of CONNECT:Enterprise for
// UNIX (batches, the "$$" namespace view and the root of mailboxes) and the file
// list of Connect:Express for OS/390.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

// ---- Mailbox batches ---------------------------------------------------------------
//
// -C--E-----FTP B QUA1I1      18128       41 Aug 12 13:56 QUADTEST
// ten status flags run together with the protocol, the batch state, the mailbox
// id, the batch number, the size in bytes, the date and the batch name.

bool isBatchFlags(std::string_view word)
{
    return word.size() >= 11 && word.size() <= 16
        && word.find_first_not_of("-ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string_view::npos;
}

bool isBatchLine(const Words& words)
{
    return words.size() >= 9 && isBatchFlags(words[0]) && words[1].size() == 1 && base::IsDigits(words[3])
        && base::IsDigits(words[4]) && monthFromName(words[5]) != 0;
}

bool hasMarker(std::string_view line)
{
    return line.find('>') != std::string_view::npos;
}

// "Mon DD HH:MM" or "Mon DD YYYY" at `index`.
std::optional<ListDateTime> batchDate(const Words& words, std::size_t index, const ListDateTime& today)
{
    const int month = monthFromName(words[index]);
    const int day = base::IsDigits(words[index + 1]) ? toIntOr(words[index + 1], 0) : 0;
    const std::string_view timeOrYear = words[index + 2];
    if (const auto time = parseTime(timeOrYear))
        return makeDateTime(recentYear(month, day, today), month, day, *time);
    if (base::IsDigits(timeOrYear) && timeOrYear.size() == 4)
        return makeDateTime(toIntOr(timeOrYear, 0), month, day);
    return std::nullopt;
}

ItemType typeOfFlags(std::string_view flags)
{
    return !flags.empty() && (flags[0] == 'd' || flags[0] == 'D') ? ItemType::Directory : ItemType::File;
}

std::optional<TFtpListItem> parseBatchLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (!isBatchLine(words))
        return std::nullopt;
    const std::string_view name = afterFields(line, 8);
    if (name.empty())
        return std::nullopt;
    TFtpListItem item = newItem(line, name, typeOfFlags(words[0]));
    item.mutableExtras().OwnerName = std::string(words[2]);
    setSize(item, base::ParseInteger(words[4]));
    setDate(item, batchDate(words, 5, context.today));
    return item;
}

// ---- The "$$" namespace ---------------------------------------------------------------
//
// Mailbox lines that carry a ">" marker, with a "Mon DD HH:MM" date somewhere after
// the flags and the batch name after the date; the word before the date is the size.

std::size_t namespaceDateIndex(std::string_view line, const Words& words)
{
    if (!hasMarker(line) || words.size() < 5 || !isBatchFlags(words[0]))
        return 0;
    for (std::size_t i = 1; i + 3 < words.size(); ++i)
        if (monthFromName(words[i]) != 0 && base::IsDigits(words[i + 1]))
            return i;
    return 0;
}

std::optional<TFtpListItem> parseNamespaceLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    const std::size_t index = namespaceDateIndex(line, words);
    if (index == 0)
        return std::nullopt;
    TFtpListItem item = newItem(line, afterFields(line, index + 3), typeOfFlags(words[0]));
    setSize(item, base::ParseInteger(words[index - 1]));
    setDate(item, batchDate(words, index, context.today));
    return item;
}

// ---- The root of mailboxes --------------------------------------------------------------
//
// d   MAILBOX   [Mon DD HH:MM]
// One folder per mailbox: "d" in column 1 and blanks in columns 2 to 4.

bool isRootLine(std::string_view line)
{
    return line.size() > 4 && line[0] == 'd' && line.substr(1, 3) == "   " && fields(line).size() >= 2;
}

std::optional<TFtpListItem> parseRootLine(std::string_view line, const ListParseContext& context)
{
    if (!isRootLine(line))
        return std::nullopt;
    const Words words = fields(line);
    TFtpListItem item = newItem(line, words[1], ItemType::Directory);
    if (words.size() >= 5 && monthFromName(words[2]) != 0)
        setDate(item, batchDate(words, 2, context.today));
    return item;
}

// ---- Connect:Express for OS/390 ---------------------------------------------------------
//
//  F FILE.NAME      (a file)
//  D DIRECTORY      (a folder)
// The type letter stands in column 2; the name is the next word.

bool isExpressLine(std::string_view line)
{
    return line.size() > 3 && (line[1] == 'D' || line[1] == 'F') && line[2] == ' ' && line[0] == ' '
        && fields(line).size() >= 2;
}

std::optional<TFtpListItem> parseExpressLine(std::string_view line, const ListParseContext&)
{
    if (!isExpressLine(line))
        return std::nullopt;
    return newItem(line, fields(line)[1], line[1] == 'D' ? ItemType::Directory : ItemType::File);
}

} // namespace

std::unique_ptr<ListParser> makeSterCommEntUxParser()
{
    return std::make_unique<LineByLineParser>(
        "CONNECT:Enterprise for UNIX",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return !hasMarker(line) && isBatchLine(fields(line)); });
        },
        parseBatchLine);
}

std::unique_ptr<ListParser> makeSterCommEntUxNSParser()
{
    return std::make_unique<LineByLineParser>(
        "CONNECT:Enterprise for UNIX$$",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(
                lines, [](std::string_view line) { return namespaceDateIndex(line, fields(line)) != 0; });
        },
        parseNamespaceLine);
}

std::unique_ptr<ListParser> makeSterCommEntUxRootParser()
{
    return std::make_unique<LineByLineParser>(
        "CONNECT:Enterprise for UNIX ROOT",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isRootLine(line); });
        },
        parseRootLine);
}

std::unique_ptr<ListParser> makeSterCommExpOS390Parser()
{
    return std::make_unique<LineByLineParser>(
        "Connect:Express for OS/390",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) { return isExpressLine(line); });
        },
        parseExpressLine);
}

} // namespace taskhaul::ftp
