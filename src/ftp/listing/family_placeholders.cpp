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

std::unique_ptr<ListParser> makeVxWorksParser()
{
    return std::make_unique<RejectingParser>("Wind River VxWorks");
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

std::unique_ptr<ListParser> makeVirtualReaderParser()
{
    return std::make_unique<RejectingParser>("VM Virtual Reader");
}

std::unique_ptr<ListParser> makeVMBFSParser()
{
    return std::make_unique<RejectingParser>("VM/BFS");
}

std::unique_ptr<ListParser> makeVMCMSParser()
{
    return std::make_unique<RejectingParser>("VM/CMS");
}

std::unique_ptr<ListParser> makeTSXPlusParser()
{
    return std::make_unique<RejectingParser>("TSX+");
}

std::unique_ptr<ListParser> makeTOPS20Parser()
{
    return std::make_unique<RejectingParser>("TOPS20");
}

std::unique_ptr<ListParser> makeSterCommEntUxParser()
{
    return std::make_unique<RejectingParser>("CONNECT:Enterprise for UNIX");
}

std::unique_ptr<ListParser> makeSterCommEntUxNSParser()
{
    return std::make_unique<RejectingParser>("CONNECT:Enterprise for UNIX$$");
}

std::unique_ptr<ListParser> makeSterCommEntUxRootParser()
{
    return std::make_unique<RejectingParser>("CONNECT:Enterprise for UNIX ROOT");
}

std::unique_ptr<ListParser> makeSterCommExpOS390Parser()
{
    return std::make_unique<RejectingParser>("Connect:Express for OS/390");
}

std::unique_ptr<ListParser> makeOS2Parser()
{
    return std::make_unique<RejectingParser>("OS/2");
}

std::unique_ptr<ListParser> makeNetwarePSUDosParser()
{
    return std::make_unique<RejectingParser>("Novell Netware Print Services for Unix:  DOS Namespace");
}

std::unique_ptr<ListParser> makeNetwarePSUNFSParser()
{
    return std::make_unique<RejectingParser>("Novell Netware Print Services for Unix:  NFS Namespace");
}

std::unique_ptr<ListParser> makeNovellNetwareParser()
{
    return std::make_unique<RejectingParser>("Novell Netware");
}

std::unique_ptr<ListParser> makeNCSAforDOSParser()
{
    return std::make_unique<RejectingParser>("NCSA for MS-DOS (CU/TCP)");
}

std::unique_ptr<ListParser> makeMusicParser()
{
    return std::make_unique<RejectingParser>("MUSIC/SP");
}

std::unique_ptr<ListParser> makeMicrowareOS9Parser()
{
    return std::make_unique<RejectingParser>("MicroWare OS-9");
}

std::unique_ptr<ListParser> makeMVSParser()
{
    return std::make_unique<RejectingParser>("MVS");
}

std::unique_ptr<ListParser> makeMVSPartitionedDataSetParser()
{
    return std::make_unique<RejectingParser>("MVS:  Partitioned Data Set");
}

std::unique_ptr<ListParser> makeMVSJESInterface1Parser()
{
    return std::make_unique<RejectingParser>("MVS:  JES Queue Interface 1");
}

std::unique_ptr<ListParser> makeMVSJESInterface2Parser()
{
    return std::make_unique<RejectingParser>("MVS:  JES Queue Interface 2");
}

std::unique_ptr<ListParser> makeMPiXParser()
{
    return std::make_unique<RejectingParser>("MPE/iX:  LISTF");
}

std::unique_ptr<ListParser> makeMPiXWithPOSIXParser()
{
    return std::make_unique<RejectingParser>("MPE/iX:  With POSIX");
}

std::unique_ptr<ListParser> makeKA9QParser()
{
    return std::make_unique<RejectingParser>("KA9Q");
}

std::unique_ptr<ListParser> makeHellSoftParser()
{
    return std::make_unique<RejectingParser>("Hellsoft");
}

std::unique_ptr<ListParser> makeEPLFParser()
{
    return std::make_unique<RejectingParser>("EPLF");
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

std::unique_ptr<ListParser> makeAS400Parser()
{
    return std::make_unique<RejectingParser>("AS400");
}

} // namespace taskhaul::ftp
