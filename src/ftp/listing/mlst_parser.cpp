#include "ftp/listing/core_parsers.h"

namespace taskhaul::ftp {

namespace {

class MListParser final : public ListParser {
public:
    std::string_view ident() const override { return "MLST"; }
    bool check(const ListingLines&, std::string_view, bool) const override { return false; }
    void parse(const ListingLines&, const ListParseContext&, TFtpListItems&) const override { }
};

} // namespace

std::unique_ptr<ListParser> makeMListParser()
{
    return std::make_unique<MListParser>();
}

} // namespace taskhaul::ftp
