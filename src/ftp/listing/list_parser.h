#pragma once

// Listing parsers, the registry that tries them in a fixed order, and the split of
// a received listing into lines.

#include "ftp/listing/list_item.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::ftp {

using ListingLines = std::vector<std::string>;

// A parse that cannot go on, e.g. "Invalid argument to date encode". Items made
// before the failing line stay where the parse put them.
class EListParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a parse may need beyond the lines.
struct ListParseContext {
    // "Now" on the server's calendar: listings that print a time of day instead of
    // a year are placed in this year, or the year before when the month and day
    // lie after today.
    ListDateTime today;
    // The answer to SYST (first reply line, or "Unknown").
    std::string_view systemDescription;
};

// One listing format: an identifier, a check that recognises its listings and a
// parse that turns their lines into items.
class ListParser {
public:
    virtual ~ListParser() = default;

    virtual std::string_view ident() const = 0;
    // Whether this parser takes the listing. `details` tells whether a long listing
    // (LIST) was asked for rather than bare names (NLST).
    virtual bool check(const ListingLines& lines, std::string_view systemDescription, bool details) const = 0;
    // Appends the items of `lines` to `items`. May throw EListParseError; the items
    // added before the failure stay.
    virtual void parse(
        const ListingLines& lines, const ListParseContext& context, TFtpListItems& items) const = 0;
};

// Splits received listing text into lines at CR LF, CR or LF. A final line break
// adds no empty line, empty lines inside the text are kept, and a NUL character
// ends the text.
ListingLines splitListingLines(std::string_view text);

// All known parsers in the order they are tried. Built once, on first use.
const std::vector<std::unique_ptr<ListParser>>& listParserRegistry();

// The first parser of `parsers` whose check accepts (details = true); null when none does.
const ListParser* chooseListParser(const std::vector<std::unique_ptr<ListParser>>& parsers,
    const ListingLines& lines, std::string_view systemDescription);

// Parses `lines` into `items` (appending) with the first registered parser that
// accepts them. Returns that parser's ident, or nothing when no parser accepts (no
// lines, or a format nobody knows: the folder then looks empty). A parse failure
// propagates as EListParseError with the items made so far kept in `items`.
std::optional<std::string> parseListing(const ListingLines& lines, std::string_view systemDescription,
    const ListDateTime& today, TFtpListItems& items);
// Whether the first line that is not empty is a line of facts and a name
// ("type=file;size=10;modify=20240301123456; name"), as MLSD and MLST answer.
// No line of a LIST answer looks like that.
bool isMachineListing(const ListingLines& lines);
// Parses an MLSD answer (appending to `items`): one item per entry, the lines
// for the listed folder and its parent (cdir, pdir) left out. Lines that are
// no entry are left out too, and once every other line is parsed they are
// reported as EListParseError ("Line not understood: "<line>"", or "<n> lines
// not understood, the first: "<line>"").
void parseMachineListing(const ListingLines& lines, TFtpListItems& items);

// The same with another list of parsers in place of the registry.
std::optional<std::string> parseListing(const std::vector<std::unique_ptr<ListParser>>& parsers,
    const ListingLines& lines, std::string_view systemDescription, const ListDateTime& today,
    TFtpListItems& items);

} // namespace taskhaul::ftp
