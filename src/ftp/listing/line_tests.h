#pragma once

// Small tests and conversions on listing lines that several parsers share.
// Positions in comments are 1-based, as listings are usually described.

#include "base/integers.h"
#include "base/text.h"
#include "ftp/listing/list_parser.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::ftp {

// Without leading and trailing blanks and control characters (tabs included).
std::string_view trimmed(std::string_view text);

// A decimal integer with an optional sign (base::ParseInteger), or `fallback`
// on any other text and for values outside int.
int toIntOr(std::string_view text, int fallback);

// The line split at blanks only (a tab belongs to its word): runs of blanks
// count as one separator, leading and trailing blanks are ignored. The views
// point into `line`.
inline std::vector<std::string_view> splitWords(std::string_view line)
{
    return base::SplitWords(line, base::kBlanks);
}

// More than 9 characters whose first 10, upper-cased, look like "drwxr-xr-x"
// (type letter from -BCDLPS, then the permission letters Unix tools print), or
// a word of 7 characters with the owner's and group's permissions alone
// ("-rw-r--"), not all of them "-".
bool isPermissionsField(std::string_view text);
// Upper-cased, begins with "TOTAL" and does not end with ":".
bool isTotalLine(std::string_view line);
// Ends with ":" and does not begin with a permissions field ("./sub:" of ls -R).
bool isSubfolderBanner(std::string_view line);

// 1 to 12 for "JAN" to "DEC" in any case; 0 for anything else.
int monthFromName(std::string_view text);
// Years of 1000 and more stay; a smaller year above 50 goes to the previous
// century of `currentYear`, any other to its century.
int expandTwoDigitYear(int year, int currentYear);

// Only blanks and tabs (or nothing).
bool isBlankLine(std::string_view line);
// Only blanks, "+", "-" and the byte 0x96 (a dash in some 8-bit code pages).
bool isSeparatorLine(std::string_view line);
// The first line that is neither blank nor a separator line: where listings that
// start with a column header print it. Null when there is none.
const std::string* firstContentLine(const ListingLines& lines);

// Unix long-listing lines: a permissions field first (without an "AM"/"PM" or
// month-and-year layout of other formats further on), or inode and block-count
// numbers before the permissions field.
bool passesUnixLineTest(std::string_view line);
// "/path (family).": the folder banner Unitree prints.
bool isUnitreeBanner(std::string_view line);
// A Unitree banner, or a line whose 5th word is a storage state ("AR" or "DK").
bool isUnitreeLine(std::string_view line);

} // namespace taskhaul::ftp
