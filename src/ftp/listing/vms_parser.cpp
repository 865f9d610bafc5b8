// VMS directory listings: "NAME.TYPE;VERSION  used/allocated  DD-MMM-YYYY HH:MM:SS
// [owner] (protection)". Long names push the attributes onto a second, indented
// line; servers differ in which attribute columns they show and in their order.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

#include <cstdint>

namespace taskhaul::ftp {

namespace {

using namespace family;

// "NAME.TYPE;12": a name, ";" and a version number. The version stays part of the
// name: it is how the server tells the versions apart, and RETR accepts it.
bool isVersionedName(std::string_view word)
{
    const std::size_t semicolon = word.rfind(';');
    return semicolon != std::string_view::npos && semicolon > 0 && base::IsDigits(word.substr(semicolon + 1));
}

// "2-JUN-1998" (the month in any case).
std::optional<std::array<int, 3>> vmsDate(std::string_view word)
{
    const std::size_t first = word.find('-');
    const std::size_t second = first == std::string_view::npos ? first : word.find('-', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::string_view day = word.substr(0, first);
    const std::string_view month = word.substr(first + 1, second - first - 1);
    const std::string_view year = word.substr(second + 1);
    if (!base::IsDigits(day) || day.size() > 2 || month.size() != 3 || !base::IsDigits(year)
        || year.size() != 4)
        return std::nullopt;
    return std::array<int, 3> { toIntOr(year, 0), monthFromName(month), toIntOr(day, 0) };
}

// "155", "9/15" (blocks used / allocated) or "******" (a number too wide for the column).
bool isBlockCount(std::string_view word)
{
    if (word.find_first_not_of('*') == std::string_view::npos)
        return true;
    const std::size_t slash = word.find('/');
    return base::IsDigits(word.substr(0, slash))
        && (slash == std::string_view::npos || base::IsDigits(word.substr(slash + 1)));
}

bool isEntryLine(const std::vector<std::string_view>& words)
{
    if (words.empty() || !isVersionedName(words[0]))
        return false;
    if (words.size() == 1)
        return true; // the attributes follow on the next line
    for (std::size_t i = 1; i < words.size(); ++i)
        if (vmsDate(words[i]))
            return true;
    return false;
}

// "Total of 0 blocks in 0 files ...": what an empty folder shows.
bool isEmptyFolderFooter(std::string_view line)
{
    const auto words = fields(line);
    return words.size() > 3 && words[0] == "Total" && words[1] == "of" && words[2] == "0";
}

constexpr std::int64_t kBlockSize = 512;

// Fills size and date from the attribute columns, whatever their order. An error
// text in their place ("%SYSTEM-F-NOPRIV ...") leaves both unknown.
void readAttributes(const std::vector<std::string_view>& words, std::size_t first, TFtpListItem& item)
{
    bool sizeSeen = false;
    for (std::size_t i = first; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (!sizeSeen && isBlockCount(word)) {
            sizeSeen = true;
            const auto used = base::ParseInteger(word.substr(0, word.find('/')));
            if (used && *used <= INT64_MAX / kBlockSize)
                setSize(item, *used * kBlockSize);
        } else if (const auto date = vmsDate(word); date && !item.ModifiedAvailable) {
            TimeOfDay time;
            if (i + 1 < words.size())
                if (const auto parsed = parseTime(words[i + 1]))
                    time = *parsed;
            // An unknown month name leaves the date unknown rather than guessed.
            setDate(item, makeDateTime((*date)[0], (*date)[1], (*date)[2], time));
        }
    }
}

TFtpListItem makeEntry(std::string_view data, std::string_view name)
{
    const std::string_view base = name.substr(0, name.rfind(';'));
    const bool isDir = base.size() >= 4 && base::EqualsIgnoreCase(base.substr(base.size() - 4), ".DIR");
    return newItem(data, name, isDir ? ItemType::Directory : ItemType::File);
}

class VMSParser final : public ListParser {
public:
    std::string_view ident() const override { return "VMS"; }

    bool check(const ListingLines& lines, std::string_view, bool) const override
    {
        for (const std::string& line : lines)
            if (isEntryLine(fields(line)) || isEmptyFolderFooter(line))
                return true;
        return false;
    }

    void parse(const ListingLines& lines, const ListParseContext&, TFtpListItems& items) const override
    {
        std::optional<std::string> pendingLine; // a name whose attributes are on the next line
        const auto flushPending = [&] {
            if (pendingLine) {
                const auto words = fields(*pendingLine);
                items.add(makeEntry(*pendingLine, words[0]));
                pendingLine.reset();
            }
        };
        for (const std::string& line : lines) {
            const auto words = fields(line);
            // The attributes of a long name: usually indented, but not on every server.
            if (pendingLine && !words.empty() && !isVersionedName(words[0])) {
                const auto nameWords = fields(*pendingLine);
                TFtpListItem item = makeEntry(*pendingLine + " " + std::string(trimmed(line)), nameWords[0]);
                readAttributes(words, 0, item);
                items.add(std::move(item));
                pendingLine.reset();
                continue;
            }
            flushPending();
            if (words.empty() || !isVersionedName(words[0]))
                continue; // header, footer, blank line
            if (words.size() == 1) {
                pendingLine = line;
                continue;
            }
            TFtpListItem item = makeEntry(line, words[0]);
            readAttributes(words, 1, item);
            items.add(std::move(item));
        }
        flushPending();
    }
};

} // namespace

std::unique_ptr<ListParser> makeVMSParser()
{
    return std::make_unique<VMSParser>();
}

} // namespace taskhaul::ftp
