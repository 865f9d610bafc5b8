#pragma once

// Reads the captured sample listings (tests/data/listings/<slug>.tsv): each file names
// the ident of its format and holds cases of raw listing lines with the entries
// they must give.

#include "ftp/listing/list_item.h"

#include <string>
#include <vector>

namespace taskhaul::ftp::samples {

// One expected entry: name, kind (file, dir, ..., or "skip" for a line that gives
// no entry, named by the line's text), size ("-" when none) and date as printed
// ("YYYY-MM-DD[ HH:MM[:SS]]", "????" for a year the listing leaves out, "-" when none).
struct SampleRow {
    std::string name;
    std::string kind;
    std::string size;
    std::string date;
};

struct SampleCase {
    int number = 0;
    std::string header; // the "## case" line, for failure messages
    std::vector<std::string> lines;
    std::vector<SampleRow> rows;

    // Rows of kind other than "skip", i.e. the items a parser must make.
    std::vector<SampleRow> entries() const;
    // All lines as one listing text, lines ended by CR LF.
    std::string text() const;
};

struct SampleFile {
    std::string slug;
    std::string ident; // from the "# format: <ident>  source:" line
    std::vector<SampleCase> cases;
};

// Slugs of all sample files present, sorted.
std::vector<std::string> sampleSlugs();
// Reads tests/data/listings/<slug>.tsv; throws std::runtime_error when it cannot.
SampleFile readSampleFile(const std::string& slug);

// Whether `actual` shows the date `expected` to the precision it is printed with.
// A "????" year stands for the latest year that puts the date not after `today`.
bool sampleDateMatches(const std::string& expected, const ListDateTime& actual, const ListDateTime& today);

// The item as a row (name, kind, size or "-", date to full seconds or "-").
SampleRow rowOf(const TFtpListItem& item);

} // namespace taskhaul::ftp::samples
