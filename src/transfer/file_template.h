#pragma once

#include "transfer/local_date_time.h"

#include <string>
#include <string_view>

namespace taskhaul {

// Name templates: file names with bracketed date, time and sequence fields
// ("[yyyy]", "[MM]", "[pdd]", "[HH]", "[seq]", ...) and the wildcards "*" and "?".
// Strings are 8-bit; every byte outside a recognised field is kept as it is.

inline constexpr int kSequenceMin = 0;
inline constexpr int kSequenceMax = 999999;

// Replaces every recognised field of `nameTemplate` by its value at the moment
// `now`; "[seq]" becomes `sequence` (clamped into kSequenceMin..kSequenceMax).
// Wildcards, unknown bracketed text and lone brackets are copied unchanged.
// An empty template gives an empty text, any other template a non-empty one.
std::string ExpandFileTemplate(std::string_view nameTemplate, const LocalDateTime& now, int sequence);

// Text of the information box that the two validate buttons show:
// "The file name is: " followed by the expansion of the field's text.
std::string TemplateCheckMessage(std::string_view nameTemplate, const LocalDateTime& now, int sequence);

// Whether `name` matches `pattern`. With `caseSensitive` off, the ASCII letters
// a to z of both are compared as upper case (other bytes stay as they are).
// The one-file transfer compares with `caseSensitive` off.
bool MatchFileName(std::string_view pattern, std::string_view name, bool caseSensitive);

// Wildcard comparison of two strings, byte for byte. "*" stands for any run of
// characters (the empty run too), "?" for exactly one character. Wildcards count
// on both sides: a remote name such as "a*" matches the pattern "abc". Runs in
// time proportional to the product of the two lengths, for strings of any length.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// `text` followed by "/", or "" when `text` is empty.
std::string AppendSlash(std::string_view text);

} // namespace taskhaul
