// Directory listings: every parser on its own and the registry over arbitrary
// listing text. Without a NUL byte the whole input is the listing and its first
// line doubles as the answer to SYST. With one, the text before the first NUL is
// the answer to SYST and the text after it the listing, so that the formats the
// registry chooses by the system's name are reached with any listing at all.

#include "family_fuzz_one.h"
#include "ftp/listing/list_parser.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace taskhaul::ftp;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto nul = input.find('\0');
    if (nul == std::string_view::npos) {
        fuzzing::exerciseListingParsers(input);
        return 0;
    }
    const std::string_view system = input.substr(0, nul);
    const std::string_view listing = input.substr(nul + 1);
    fuzzing::exerciseListingParsers(listing);

    const ListingLines lines = splitListingLines(listing);
    TFtpListItems items;
    try {
        (void)parseListing(lines, system, ListDateTime { 2026, 2, 28, 23, 59, 59, 0 }, items);
    } catch (const EListParseError&) {
        // A listing that no parser can finish: the folder then reads as failed.
    }
    return 0;
}
