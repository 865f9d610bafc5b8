#include "ftp/listing/core_parsers.h"

namespace taskhaul::ftp {

namespace {

// NLST answers with one bare name per line: nothing tells a file from a folder,
// and there is no size or date.
class NListParser final : public ListParser {
public:
    std::string_view ident() const override { return "NLIST"; }

    bool check(const ListingLines&, std::string_view, bool details) const override { return !details; }

    void parse(const ListingLines& lines, const ListParseContext&, TFtpListItems& items) const override
    {
        for (const std::string& line : lines) {
            if (line.empty())
                continue;
            TFtpListItem item;
            item.Data = line;
            item.FileName = line;
            item.SizeAvailable = false;
            item.ModifiedAvailable = false;
            items.add(std::move(item));
        }
    }
};

} // namespace

std::unique_ptr<ListParser> makeNListParser()
{
    return std::make_unique<NListParser>();
}

} // namespace taskhaul::ftp
