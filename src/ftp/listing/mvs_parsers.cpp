// MVS (z/OS) listings: the catalog of data sets, the members of a partitioned data
// set, and the two levels of the JES job queue interface.
//
// Data set names are kept exactly as listed, quotes included: a quoted name is
// fully qualified, and RETR needs those quotes to fetch it without the user's prefix.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

bool isSlashDate(std::string_view word)
{
    return dateParts(word, '/').has_value();
}

std::optional<ListDateTime> slashDate(
    std::string_view word, const ListParseContext& context, std::string_view timeWord = {})
{
    const auto parts = dateParts(word, '/');
    if (!parts)
        return std::nullopt;
    TimeOfDay time;
    if (!timeWord.empty()) {
        const auto parsed = parseTime(timeWord);
        if (!parsed)
            return std::nullopt;
        time = *parsed;
    }
    return makeDateTime(wholeYear((*parts)[0], context.today.year), (*parts)[1], (*parts)[2], time);
}

// ---- Data sets --------------------------------------------------------------

// "Volume Unit    Referred Ext Used Recfm Lrecl BlkSz Dsorg Dsname"
bool isCatalogHeader(const Words& words)
{
    return words.size() >= 3 && words[0] == "Volume" && words[1] == "Unit" && words.back() == "Dsname";
}

bool isUnitType(std::string_view word)
{
    return (base::IsDigits(word) && word.size() == 4) || word == "Tape";
}

bool isCatalogLine(const Words& words)
{
    if (words.size() == 2 && words[0] == "Migrated")
        return true;
    if (words.size() >= 6 && words[1] == "Not" && words[2] == "Direct" && words[3] == "Access")
        return true; // archived
    if (words.size() < 3 || words[0].size() > 6 || !isUnitType(words[1]))
        return false;
    if (words[1] == "Tape")
        return words.size() == 3;
    if (words[2] == "VSAM")
        return true;
    // Referred date (or "***NONE***"), extents, used tracks, record format and sizes,
    // organisation and name.
    const bool referred = (isSlashDate(words[2]) && words[2].size() == 10) || words[2] == "***NONE***";
    return referred && words.size() >= 8;
}

std::optional<TFtpListItem> parseCatalogLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.size() < 2 || isCatalogHeader(words))
        return std::nullopt;
    const std::string_view organisation = words[words.size() - 2];
    const bool partitioned = organisation == "PO" || organisation == "PO-E"
        || (words.size() > 3 && words[words.size() - 3] == "Pseudo" && organisation == "Directory");
    TFtpListItem item = newItem(line, words.back(), partitioned ? ItemType::Directory : ItemType::File);
    // The space columns count tracks, not bytes: the size stays unknown.
    if (words.size() > 3 && isUnitType(words[1]))
        setDate(item, slashDate(words[2], context));
    return item;
}

// ---- Members of a partitioned data set ------------------------------------------

bool isMemberHeader(const Words& words)
{
    return words.size() >= 3 && words[0] == "Name"
        && (words[1] == "VV.MM" || (words[1] == "Size" && words[2] == "TTR"));
}

// "SAVE03    01.03 2002/09/12 2002/10/11 09:37    11    11     0 KIL001" (ISPF statistics)
bool isStatisticsLine(const Words& words)
{
    if (words.size() < 5)
        return false;
    const std::string_view version = words[1];
    return version.size() == 5 && version[2] == '.' && base::IsDigits(version.substr(0, 2))
        && base::IsDigits(version.substr(3)) && isSlashDate(words[2]) && isSlashDate(words[3]);
}

bool isHex(std::string_view word)
{
    return !word.empty() && word.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos;
}

// "68-MVSPDSMEMBER3 00B308 000411  00 FO  RU  ANY  24" (load module: hexadecimal size and TTR)
bool isLoadModuleLine(const Words& words)
{
    return words.size() >= 4 && words[1].size() == 6 && isHex(words[1]) && words[2].size() == 6
        && isHex(words[2]);
}

bool takesMemberList(const ListingLines& lines)
{
    const std::string* first = firstContentLine(lines);
    if (!first)
        return false;
    const Words words = fields(*first);
    if (isMemberHeader(words) || isStatisticsLine(words) || isLoadModuleLine(words))
        return true;
    // Members without statistics are bare names, one per line.
    for (const std::string& line : lines) {
        const std::size_t count = fields(line).size();
        if (count > 1)
            return false;
    }
    return true;
}

std::optional<TFtpListItem> parseMemberLine(std::string_view line, const ListParseContext& context)
{
    const Words words = fields(line);
    if (words.empty() || isMemberHeader(words))
        return std::nullopt;
    TFtpListItem item = newItem(line, words[0]);
    if (isStatisticsLine(words)) {
        // The Size column of ISPF statistics counts lines, not bytes.
        const std::string_view time
            = words.size() > 4 && words[4].find(':') != std::string_view::npos ? words[4] : "";
        setDate(item, slashDate(words[3], context, time));
    } else if (isLoadModuleLine(words)) {
        setSize(item, std::stoll(std::string(words[1]), nullptr, 16));
    }
    return item;
}

// ---- JES job queue --------------------------------------------------------------

// "JOB01906", "TSU01830", "STC00042", or the wide form "J0123456".
bool isJobId(std::string_view word)
{
    if (word.size() == 8 && (word.starts_with("JOB") || word.starts_with("TSU") || word.starts_with("STC")))
        return base::IsDigits(word.substr(3));
    return word.size() == 8 && (word[0] == 'J' || word[0] == 'T' || word[0] == 'S')
        && base::IsDigits(word.substr(1));
}

bool isJobStatus(std::string_view word)
{
    return word == "OUTPUT" || word == "ACTIVE" || word == "INPUT" || word == "HELD" || word == "HOLD";
}

// Jobs are fetched by their job id; the job name is not unique.
std::optional<TFtpListItem> parseJobLine(std::string_view line, const ListParseContext&)
{
    const Words words = fields(line);
    if (words.size() < 2 || !isJobId(words[1]))
        return std::nullopt;
    return newItem(line, words[1]);
}

} // namespace

std::unique_ptr<ListParser> makeMVSParser()
{
    return std::make_unique<LineByLineParser>(
        "MVS",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return isCatalogHeader(words) || isCatalogLine(words);
            });
        },
        parseCatalogLine);
}

std::unique_ptr<ListParser> makeMVSPartitionedDataSetParser()
{
    return std::make_unique<LineByLineParser>(
        "MVS:  Partitioned Data Set",
        [](const ListingLines& lines, std::string_view) { return takesMemberList(lines); }, parseMemberLine);
}

std::unique_ptr<ListParser> makeMVSJESInterface1Parser()
{
    // "IBMUSER1  JOB01906  OUTPUT    3 Spool Files"
    return std::make_unique<LineByLineParser>(
        "MVS:  JES Queue Interface 1",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return words.size() >= 3 && isJobId(words[1]) && isJobStatus(words[2]);
            });
        },
        parseJobLine);
}

std::unique_ptr<ListParser> makeMVSJESInterface2Parser()
{
    // "JOBNAME  JOBID    OWNER    STATUS CLASS", then one line per job.
    return std::make_unique<LineByLineParser>(
        "MVS:  JES Queue Interface 2",
        [](const ListingLines& lines, std::string_view) {
            return firstContentLineIs(lines, [](std::string_view line) {
                const Words words = fields(line);
                return words.size() >= 4 && words[0] == "JOBNAME" && words[1] == "JOBID"
                    && words[2] == "OWNER" && words[3] == "STATUS";
            });
        },
        parseJobLine);
}

} // namespace taskhaul::ftp
