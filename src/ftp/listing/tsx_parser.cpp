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
    if (words.size() == 3 && base::IsDigits(words[0]))
        return base::EqualsIgnoreCase(words[1], "Free") && base::EqualsIgnoreCase(words[2], "blocks");
    return words.size() == 4 && base::IsDigits(words[0]) && base::EqualsIgnoreCase(words[1], "Files,")
        && base::IsDigits(words[2]) && base::EqualsIgnoreCase(words[3], "Blocks");
}

// "25" or "25P"
std::optional<std::int64_t> blockCount(std::string_view word)
{
    if (!word.empty() && word.back() == 'P')
        word.remove_suffix(1);
    const auto blocks = base::IsDigits(word) && word.size() <= 9 ? base::ParseInteger(word) : std::nullopt;
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
    if (!base::IsDigits(day) || !base::IsDigits(year))
        return std::nullopt;
    return makeDateTime(
        wholeYear(toIntOr(year, 0), currentYear), monthFromName(word.substr(first + 1, 3)), toIntOr(day, 0));
}

// Up to six letters, digits or "$", then optionally "." and up to three more.
bool isFileName(std::string_view name)
{
    const std::size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    const std::string_view type = dot == std::string_view::npos ? std::string_view {} : name.substr(dot + 1);
    const auto valid = [](std::string_view part) {
        return part.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789$") == std::string_view::npos;
    };
    return !base.empty() && base.size() <= 6 && type.size() <= 3 && valid(base) && valid(type);
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

    void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const override
    {
        for (const std::string& line : lines)
            for (TFtpListItem& item : entriesOf(line, context.today.year))
                items.add(std::move(item));
    }

private:
    // The entries of one line, or none when any part of the line is not an entry:
    // headers, summaries and text of other kinds give nothing.
    static std::vector<TFtpListItem> entriesOf(std::string_view line, int currentYear)
    {
        std::vector<TFtpListItem> entries;
        const Words words = fields(line);
        std::size_t i = 0;
        while (i < words.size()) {
            // "NAME .EXT" or "NAME.EXT"
            std::string name(words[i++]);
            if (i < words.size() && words[i].size() > 1 && words[i][0] == '.')
                name += words[i++];
            const auto size = i < words.size() ? blockCount(words[i]) : std::nullopt;
            if (!isFileName(name) || !size)
                return {};
            ++i;
            TFtpListItem item = newItem(line, name);
            setSize(item, size);
            if (i < words.size())
                if (const auto date = tsxDate(words[i], currentYear)) {
                    setDate(item, date);
                    ++i;
                }
            entries.push_back(std::move(item));
        }
        return entries;
    }
};

} // namespace

std::unique_ptr<ListParser> makeTSXPlusParser()
{
    return std::make_unique<TSXPlusParser>();
}

} // namespace taskhaul::ftp
