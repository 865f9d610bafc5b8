#include "ftp/listing/core_parsers.h"
#include "ftp/listing/family.h"
#include "ftp/listing/list_parser.h"

namespace taskhaul::ftp {

ListingLines splitListingLines(std::string_view text)
{
    if (const auto nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    ListingLines lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

namespace {

std::vector<std::unique_ptr<ListParser>> makeRegistry()
{
    // The order decides which parser wins when several could take a listing.
    using Factory = std::unique_ptr<ListParser> (*)();
    static constexpr Factory kFactories[] = {
        makeNListParser,
        makeMListParser,
        makeXecomMicroRTOSParser,
        makeWindowsNTParser,
        makeWinQVNetParser,
        makeVxWorksParser,
        makeVSELibraryParser,
        makeVSEPowerQueueParser,
        makeVSERootDirParser,
        makeVSESubLibraryParser,
        makeVSEVSAMCatalogParser,
        makeVSEVTOCParser,
        makeVMSParser,
        makeVirtualReaderParser,
        makeVMBFSParser,
        makeVMCMSParser,
        makeUnixParser,
        makeUnitreeParser,
        makeTSXPlusParser,
        makeTOPS20Parser,
        makeSterCommEntUxParser,
        makeSterCommEntUxNSParser,
        makeSterCommEntUxRootParser,
        makeSterCommExpOS390Parser,
        makeOS2Parser,
        makeNetwarePSUDosParser,
        makeNetwarePSUNFSParser,
        makeNovellNetwareParser,
        makeNCSAforDOSParser,
        makeMusicParser,
        makeMicrowareOS9Parser,
        makeMVSParser,
        makeMVSPartitionedDataSetParser,
        makeMVSJESInterface1Parser,
        makeMVSJESInterface2Parser,
        makeMPiXParser,
        makeMPiXWithPOSIXParser,
        makeKA9QParser,
        makeHellSoftParser,
        makeEPLFParser,
        makeDistinctTCPIPParser,
        makeCiscoIOSParser,
        makeGOS8Parser,
        makeGOS7Parser,
        makeAS400Parser,
    };
    std::vector<std::unique_ptr<ListParser>> parsers;
    parsers.reserve(std::size(kFactories));
    for (Factory make : kFactories)
        parsers.push_back(make());
    return parsers;
}

} // namespace

const std::vector<std::unique_ptr<ListParser>>& listParserRegistry()
{
    static const std::vector<std::unique_ptr<ListParser>> registry = makeRegistry();
    return registry;
}

const ListParser* chooseListParser(const std::vector<std::unique_ptr<ListParser>>& parsers,
    const ListingLines& lines, std::string_view systemDescription)
{
    for (const auto& parser : parsers)
        if (parser->check(lines, systemDescription, true))
            return parser.get();
    return nullptr;
}

std::optional<std::string> parseListing(const ListingLines& lines, std::string_view systemDescription,
    const ListDateTime& today, TFtpListItems& items)
{
    return parseListing(listParserRegistry(), lines, systemDescription, today, items);
}

std::optional<std::string> parseListing(const std::vector<std::unique_ptr<ListParser>>& parsers,
    const ListingLines& lines, std::string_view systemDescription, const ListDateTime& today,
    TFtpListItems& items)
{
    if (lines.empty())
        return std::nullopt;
    const ListParser* parser = chooseListParser(parsers, lines, systemDescription);
    if (!parser)
        return std::nullopt;
    parser->parse(lines, ListParseContext { today, systemDescription }, items);
    return std::string(parser->ident());
}

} // namespace taskhaul::ftp
