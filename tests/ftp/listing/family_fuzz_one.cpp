#include "family_fuzz_one.h"

#include "ftp/listing/list_parser.h"

namespace taskhaul::ftp::fuzzing {

void exerciseListingParsers(std::string_view input)
{
    const ListingLines lines = splitListingLines(input);
    const std::string_view system = lines.empty() ? std::string_view {} : std::string_view(lines.front());
    const ListDateTime today { 2026, 2, 28, 23, 59, 59, 0 };
    for (const auto& parser : listParserRegistry()) {
        (void)parser->check(lines, system, true);
        (void)parser->check(lines, system, false);
        TFtpListItems items;
        try {
            parser->parse(lines, ListParseContext { today, system }, items);
        } catch (const EListParseError&) {
        }
    }
    TFtpListItems items;
    try {
        (void)parseListing(lines, system, today, items);
    } catch (const EListParseError&) {
    }
}

} // namespace taskhaul::ftp::fuzzing
