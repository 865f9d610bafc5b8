// TSX-Plus (RT-11 style) listings: entries "NAME  .EXT  blocks[P] DD-Mon-YY", often
// two or three to a line, closed by a summary such as " 12 Files, 456 Blocks" and
// " 1234 Free blocks". Sizes count 512-byte blocks; "P" marks a protected file.

#include "ftp/listing/family.h"
#include "ftp/listing/family_support.h"

#include <cstdint>

namespace taskhaul::ftp {

namespace {

using namespace family;

using Words = std::vector<std::string_view>;

constexpr std::int64_t kBlockSize = 512;

bool isSummaryLine(std::string_view line)
{
    const Words words = fields(line);
    if (words.size() == 3 && isDigits(words[0]))
        return equalsNoCase(words[1], "Free") && equalsNoCase(words[2], "blocks");
    return words.size() == 4 && isDigits(words[0]) && equalsNoCase(words[1], "Files,") && isDigits(words[2])
        && equalsNoCase(words[3], "Blocks");
}

// "25" or "25P"
std::optional<std::int64_t> blockCount(std::string_view word)
{
    if (!word.empty() && word.back() == 'P')
        word.remove_suffix(1);
    const auto blocks = isDigits(word) && word.size() <= 9 ? toInt64(word) : std::nullopt;
    if (!blocks)
        return std::nullopt;
    return *blocks * kBlockSize;
}

// "01-Jan-80"
std::optional<ListDateTime> tsxDate(std::string_view word, int currentYear)
{
    const std::size_t first = word.find('-');
    const std::size_t second = first == std::string_view::npos ? first : word.find('-', first + 1);
    if (second == std::string_view::npos || second - first != 4)
        return std::nullopt;
    const std::string_view day = word.substr(0, first);
    const std::string_view year = word.substr(second + 1);
    if (!isDigits(day) || !isDigits(year))
        return std::nullopt;
    return makeDateTime(wholeYear(toIntOr(year, 0), currentYear), monthFromName(word.substr(first + 1, 3)),
                        toIntOr(day, 0));
}

class TSXPlusParser final : public ListParser {
public:
    std::string_view ident() const override { return "TSX+"; }

    bool check(const ListingLines& lines, std::string_view, bool) const override
    {
        for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
            if (isBlankLine(*line))
                continue;
            if (isSummaryLine(*line))
                return true;
        }
        return false;
    }

    void parse(const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override
    {
        for (const std::string& line : lines) {
            if (isSummaryLine(line))
                continue;
            const Words words = fields(line);
            std::size_t i = 0;
            while (i < words.size()) {
                // "NAME .EXT" or "NAME.EXT" (a name without type may stand alone).
                std::string name(words[i]);
                std::size_t next = i + 1;
                if (next < words.size() && words[next].size() > 1 && words[next][0] == '.') {
                    name += words[next];
                    ++next;
                }
                const auto size = next < words.size() ? blockCount(words[next]) : std::nullopt;
                if (!size || !isUpperLetters(name.substr(0, 1))) {
                    ++i; // a header word or something we cannot read
                    continue;
                }
                ++next;
                TFtpListItem item = newItem(line, name);
                setSize(item, size);
                if (next < words.size())
                    if (const auto date = tsxDate(words[next], context.today.year)) {
                        setDate(item, date);
                        ++next;
                    }
                items.add(std::move(item));
                i = next;
            }
        }
    }
};

} // namespace

std::unique_ptr<ListParser> makeTSXPlusParser()
{
    return std::make_unique<TSXPlusParser>();
}

} // namespace taskhaul::ftp
