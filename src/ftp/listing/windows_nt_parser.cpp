#include "ftp/listing/core_parsers.h"

namespace taskhaul::ftp {

namespace {

class WindowsNTParser final : public ListParser {
public:
    std::string_view ident() const override { return "Windows NT"; }
    bool check(const ListingLines&, std::string_view, bool) const override { return false; }
    void parse(const ListingLines&, const ListParseContext&, TFtpListItems&) const override { }
};

} // namespace

std::unique_ptr<ListParser> makeWindowsNTParser()
{
    return std::make_unique<WindowsNTParser>();
}

} // namespace taskhaul::ftp
