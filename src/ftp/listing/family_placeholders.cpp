// Stand-ins for listing formats not understood yet: each keeps its ident and its
// place in the registry but takes no listing.

#include "ftp/listing/family.h"

namespace taskhaul::ftp {

namespace {

class RejectingParser final : public ListParser {
public:
    explicit RejectingParser(std::string_view ident)
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

std::unique_ptr<ListParser> makeXecomMicroRTOSParser()
{
    return std::make_unique<RejectingParser>("Xercom Micro RTOS");
}

std::unique_ptr<ListParser> makeWinQVNetParser()
{
    return std::make_unique<RejectingParser>("WinQVT/NET");
}

std::unique_ptr<ListParser> makeVSELibraryParser()
{
    return std::make_unique<RejectingParser>("VSE:  Library");
}

std::unique_ptr<ListParser> makeVSEPowerQueueParser()
{
    return std::make_unique<RejectingParser>("VSE:  PowerQueue");
}

std::unique_ptr<ListParser> makeVSERootDirParser()
{
    return std::make_unique<RejectingParser>("VSE:  Root Directory");
}

std::unique_ptr<ListParser> makeVSESubLibraryParser()
{
    return std::make_unique<RejectingParser>("VSE:  Sublibrary");
}

std::unique_ptr<ListParser> makeVSEVSAMCatalogParser()
{
    return std::make_unique<RejectingParser>("VSE:  VSAM Catalog");
}

std::unique_ptr<ListParser> makeVSEVTOCParser()
{
    return std::make_unique<RejectingParser>("VSE:  VTOC");
}

std::unique_ptr<ListParser> makeTSXPlusParser()
{
    return std::make_unique<RejectingParser>("TSX+");
}

std::unique_ptr<ListParser> makeTOPS20Parser()
{
    return std::make_unique<RejectingParser>("TOPS20");
}

std::unique_ptr<ListParser> makeNCSAforDOSParser()
{
    return std::make_unique<RejectingParser>("NCSA for MS-DOS (CU/TCP)");
}

std::unique_ptr<ListParser> makeMusicParser()
{
    return std::make_unique<RejectingParser>("MUSIC/SP");
}

std::unique_ptr<ListParser> makeKA9QParser()
{
    return std::make_unique<RejectingParser>("KA9Q");
}

std::unique_ptr<ListParser> makeDistinctTCPIPParser()
{
    return std::make_unique<RejectingParser>("Distinct TCP/IP");
}

std::unique_ptr<ListParser> makeCiscoIOSParser()
{
    return std::make_unique<RejectingParser>("Cisco IOS");
}

std::unique_ptr<ListParser> makeGOS8Parser()
{
    return std::make_unique<RejectingParser>("Bull GCOS8");
}

std::unique_ptr<ListParser> makeGOS7Parser()
{
    return std::make_unique<RejectingParser>("Bull GCOS7");
}

} // namespace taskhaul::ftp
