// Machine listings (MLSD, RFC 3659): "fact=value;fact=value; name". Their check
// in the registry takes nothing: a LIST answer is never one. The client parses
// an MLSD answer with this parser directly, and a saved listing that begins
// with a fact line is recognised by isMachineListing.

#include "ftp/listing/core_parsers.h"
#include "ftp/listing/line_tests.h"

#include <algorithm>
#include <cctype>

namespace taskhaul::ftp {

namespace {

// "YYYYMMDDHHMMSS[.sss]"; nothing when it is not a valid moment.
std::optional<ListDateTime> readModifyFact(std::string_view value)
{
    const std::string_view whole = value.substr(0, value.find('.'));
    if (whole.size() != 14 || !base::IsDigits(whole))
        return std::nullopt;
    const auto digits
        = [&](std::size_t at, std::size_t count) { return toIntOr(whole.substr(at, count), 0); };
    ListDateTime moment { digits(0, 4), digits(4, 2), digits(6, 2), digits(8, 2), digits(10, 2),
        digits(12, 2), 0 };
    if (const std::size_t dot = value.find('.'); dot != std::string_view::npos) {
        std::string fraction(value.substr(dot + 1, 3));
        if (!base::IsDigits(fraction))
            return std::nullopt;
        fraction.resize(3, '0');
        moment.millisecond = toIntOr(fraction, 0);
    }
    if (!ListDateTime::isValidDate(moment.year, moment.month, moment.day)
        || !ListDateTime::isValidTime(moment.hour, moment.minute, moment.second, moment.millisecond))
        return std::nullopt;
    return moment;
}

// One line of a machine listing: its facts ("type=file;size=10;") and the name.
struct FactLine {
    std::string_view facts;
    std::string_view name;
};

bool isFactNameCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

// "name=value" with a name of letters, digits, "." and "-".
bool isValuedFact(std::string_view fact)
{
    const std::size_t equals = fact.find('=');
    if (equals == 0 || equals == std::string_view::npos)
        return false;
    return std::all_of(fact.begin(), fact.begin() + static_cast<std::ptrdiff_t>(equals), isFactNameCharacter);
}

// A fact's name without "=" and a value, as some servers print one ("UNIX.mode;").
bool isBareFact(std::string_view fact)
{
    return !fact.empty() && std::all_of(fact.begin(), fact.end(), isFactNameCharacter);
}

// The facts end at the first blank, or a tab some servers put there. A server
// that leaves the blank out glues the name to the last ";", and the name then
// runs from there to the end of the line. Nothing when no name can be told apart
// (a line of facts alone, or no ";" at all).
std::optional<FactLine> splitFactLine(std::string_view line)
{
    const std::size_t blank = line.find_first_of(" \t");
    const std::string_view beforeBlank = line.substr(0, blank);
    const std::size_t semicolon = beforeBlank.rfind(';');
    const std::string_view last
        = semicolon == std::string_view::npos ? beforeBlank : beforeBlank.substr(semicolon + 1);
    if (blank != std::string_view::npos && (last.empty() || last.find('=') != std::string_view::npos))
        return FactLine { beforeBlank, line.substr(blank + 1) };
    if (semicolon == std::string_view::npos || (blank == std::string_view::npos && isValuedFact(last)))
        return std::nullopt;
    return FactLine { line.substr(0, semicolon + 1), line.substr(semicolon + 1) };
}

// Calls `take` with each fact of "fact;fact;..." (a closing ";" gives no empty fact).
template <typename Take> void forEachFact(std::string_view facts, Take&& take)
{
    std::size_t start = 0;
    while (start < facts.size()) {
        const std::size_t stop = std::min(facts.find(';', start), facts.size());
        take(facts.substr(start, stop - start));
        start = stop + 1;
    }
}

// The kind the type fact names. A link may name its target after a ":"
// ("OS.unix=slink:/pub/files"); a target that ends in "/" is a folder.
ItemType readTypeFact(std::string_view value, TFtpListItem& item)
{
    const std::string type = base::AsciiUpper(value);
    if (type == "DIR")
        return ItemType::Directory;
    for (const std::string_view link :
        { std::string_view("OS.UNIX=SLINK"), std::string_view("OS.UNIX=SYMLINK") }) {
        if (!type.starts_with(link) || (type.size() > link.size() && type[link.size()] != ':'))
            continue;
        std::string_view target = value.substr(std::min(value.size(), link.size() + 1));
        const bool folder = target.ends_with('/');
        if (folder)
            target.remove_suffix(1);
        if (!target.empty())
            item.mutableExtras().LinkTarget = target;
        return folder ? ItemType::SymbolicLinkToDirectory : ItemType::SymbolicLink;
    }
    if (type.starts_with("OS.UNIX=CHR-"))
        return ItemType::CharacterDevice;
    if (type.starts_with("OS.UNIX=BLK-"))
        return ItemType::BlockDevice;
    return ItemType::File;
}

class MListParser final : public ListParser {
public:
    std::string_view ident() const override { return "MLST"; }

    bool check(const ListingLines&, std::string_view, bool) const override { return false; }

    // Every line that can be read makes its item; the others are reported
    // together once the rest is parsed (EListParseError), so that the items
    // stand and the caller can say what was left out.
    void parse(const ListingLines& lines, const ListParseContext&, TFtpListItems& items) const override
    {
        std::size_t unread = 0;
        const std::string* firstUnread = nullptr;
        for (const std::string& line : lines) {
            if (line.empty())
                continue;
            bool read = true;
            if (auto item = parseLine(line, read))
                items.add(std::move(*item));
            if (!read && unread++ == 0)
                firstUnread = &line;
        }
        if (unread == 1)
            throw EListParseError("Line not understood: \"" + *firstUnread + "\"");
        if (unread > 1)
            throw EListParseError(
                std::to_string(unread) + " lines not understood, the first: \"" + *firstUnread + "\"");
    }

private:
    // Nothing for the lines that describe the listed folder and its parent, and
    // for a line that is no entry (`read` false).
    static std::optional<TFtpListItem> parseLine(const std::string& line, bool& read)
    {
        const auto split = splitFactLine(line);
        bool valued = false;
        if (split)
            forEachFact(split->facts, [&](std::string_view fact) { valued = valued || isValuedFact(fact); });
        if (!valued || split->name.empty()) {
            read = false;
            return std::nullopt;
        }
        TFtpListItem item;
        item.Data = line;
        item.FileName = split->name;
        item.SizeAvailable = false;
        item.ModifiedAvailable = false;
        bool folderLine = false;
        forEachFact(split->facts, [&](std::string_view fact) {
            const std::size_t equals = fact.find('=');
            if (equals == std::string_view::npos)
                return; // a fact without its value tells nothing
            const std::string name = base::AsciiUpper(fact.substr(0, equals));
            const std::string_view value = fact.substr(equals + 1);
            if (name == "TYPE") {
                const std::string type = base::AsciiUpper(value);
                folderLine = type == "CDIR" || type == "PDIR";
                item.ItemType = readTypeFact(value, item);
            } else if (name == "SIZE") {
                if (const auto size = base::ParseInteger(value)) {
                    item.Size = *size;
                    item.SizeAvailable = true;
                }
            } else if (name == "MODIFY") {
                if (const auto moment = readModifyFact(value)) {
                    item.ModifiedDate = *moment;
                    item.ModifiedAvailable = true;
                    item.ModifiedExactUtc = true;
                }
            } else if (name == "UNIX.OWNER") {
                item.mutableExtras().OwnerName = value;
            } else if (name == "UNIX.GROUP") {
                item.mutableExtras().GroupName = value;
            }
        });
        if (folderLine)
            return std::nullopt;
        return item;
    }
};

// "fact=value;" words, perhaps with facts that lack their value, and at least
// one with a value.
bool isFactList(std::string_view facts)
{
    if (facts.empty())
        return false;
    const bool closed = facts.back() == ';';
    bool valid = true;
    bool valued = false;
    bool typed = false;
    forEachFact(facts, [&](std::string_view fact) {
        if (isValuedFact(fact)) {
            valued = true;
            typed = typed || base::AsciiUpper(fact.substr(0, fact.find('='))) == "TYPE";
        } else if (!isBareFact(fact)) {
            valid = false;
        }
    });
    // Without the closing ";" (drafts before RFC 3659) the type fact must be there.
    return valid && valued && (closed || typed);
}

} // namespace

bool isMachineListing(const ListingLines& lines)
{
    // The first entry decides; a line further on that is no entry is the
    // parse's to report.
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        const auto split = splitFactLine(line);
        return split && !split->name.empty() && isFactList(split->facts);
    }
    return false;
}

void parseMachineListing(const ListingLines& lines, TFtpListItems& items)
{
    static const MListParser parser;
    parser.parse(lines, ListParseContext {}, items);
}

std::unique_ptr<ListParser> makeMListParser()
{
    return std::make_unique<MListParser>();
}

} // namespace taskhaul::ftp
