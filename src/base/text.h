#pragma once

// ASCII text helpers. Only the letters A to Z and a to z change case; every
// other byte (UTF-8 sequences included) is left as it is, whatever the locale.

#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::base {

char AsciiUpper(char c) noexcept;
char AsciiLower(char c) noexcept;
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

// Equal when compared with ASCII letters folded to one case.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept;

// Separators of SplitWords.
inline constexpr std::string_view kBlanks = " ";
inline constexpr std::string_view kBlanksAndTabs = " \t";

// The fields of `text` between runs of separator characters; leading and
// trailing separators are ignored, so no field is empty. The views point into
// `text`.
std::vector<std::string_view> SplitWords(std::string_view text, std::string_view separators = kBlanksAndTabs);

} // namespace taskhaul::base
