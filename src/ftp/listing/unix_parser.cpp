#include "ftp/listing/core_parsers.h"

namespace taskhaul::ftp {

namespace {

class UnixParser final : public ListParser {
public:
    explicit UnixParser(std::string_view ident)
        : ident_(ident)
    {
    }
    std::string_view ident() const override { return ident_; }
    bool check(const ListingLines&, std::string_view, bool) const override { return false; }
    void parse(const ListingLines&, const ListParseContext&, TFtpListItems&) const override { }

private:
    std::string_view ident_;
};

} // namespace

std::unique_ptr<ListParser> makeUnixParser()
{
    return std::make_unique<UnixParser>("Unix");
}

std::unique_ptr<ListParser> makeUnitreeParser()
{
    return std::make_unique<UnixParser>("Unitree");
}

} // namespace taskhaul::ftp
