// Machine listings (MLSD, RFC 3659): "fact=value;fact=value; name". Their check
// in the registry takes nothing: a LIST answer is never one. The client parses
// an MLSD answer with this parser directly, and a saved listing made only of
// fact lines is recognised by isMachineListing.

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

class MListParser final : public ListParser {
public:
    std::string_view ident() const override { return "MLST"; }

    bool check(const ListingLines&, std::string_view, bool) const override { return false; }

    void parse(const ListingLines& lines, const ListParseContext&, TFtpListItems& items) const override
    {
        for (const std::string& line : lines) {
            if (line.empty())
                continue;
            if (auto item = parseLine(line))
                items.add(std::move(*item));
        }
    }

private:
    // Nothing for the lines that describe the listed folder and its parent.
    static std::optional<TFtpListItem> parseLine(const std::string& line)
    {
        TFtpListItem item;
        item.Data = line;
        item.SizeAvailable = false;
        item.ModifiedAvailable = false;

        // Facts end at the first blank; some servers put a tab there instead.
        const std::size_t end = line.find_first_of(" \t");
        const std::string_view facts = std::string_view(line).substr(0, end);
        item.FileName = end == std::string::npos ? std::string() : line.substr(end + 1);

        std::size_t start = 0;
        while (start < facts.size()) {
            std::size_t stop = facts.find(';', start);
            if (stop == std::string_view::npos)
                stop = facts.size();
            const std::string_view fact = facts.substr(start, stop - start);
            start = stop + 1;
            const std::size_t equals = fact.find('=');
            if (equals == std::string_view::npos)
                continue;
            const std::string name = base::AsciiUpper(fact.substr(0, equals));
            const std::string_view value = fact.substr(equals + 1);
            if (name == "TYPE") {
                const std::string type = base::AsciiUpper(value);
                if (type == "CDIR" || type == "PDIR")
                    return std::nullopt;
                if (type == "DIR")
                    item.ItemType = ItemType::Directory;
                else if (type == "OS.UNIX=SLINK" || type == "OS.UNIX=SYMLINK")
                    item.ItemType = ItemType::SymbolicLink;
                else if (type.starts_with("OS.UNIX=CHR-"))
                    item.ItemType = ItemType::CharacterDevice;
                else if (type.starts_with("OS.UNIX=BLK-"))
                    item.ItemType = ItemType::BlockDevice;
                else
                    item.ItemType = ItemType::File;
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
        }
        return item;
    }
};

// "fact=value;" words: a name of letters, digits, "." and "-", then "=".
bool isFactList(std::string_view facts)
{
    if (facts.empty())
        return false;
    const bool closed = facts.back() == ';';
    bool typed = false;
    std::size_t start = 0;
    while (start < facts.size()) {
        const std::size_t stop = std::min(facts.find(';', start), facts.size());
        const std::string_view fact = facts.substr(start, stop - start);
        start = stop + 1;
        const std::size_t equals = fact.find('=');
        if (equals == 0 || equals == std::string_view::npos)
            return false;
        for (char c : fact.substr(0, equals))
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-')
                return false;
        typed = typed || base::AsciiUpper(fact.substr(0, equals)) == "TYPE";
    }
    // Without the closing ";" (drafts before RFC 3659) the type fact must be there.
    return closed || typed;
}

} // namespace

bool isMachineListing(const ListingLines& lines)
{
    bool any = false;
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        const std::size_t end = line.find_first_of(" \t");
        if (end == std::string::npos || !isFactList(std::string_view(line).substr(0, end)))
            return false;
        any = true;
    }
    return any;
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
