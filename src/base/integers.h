#pragma once

// Whole numbers read from text that came from outside (server replies,
// listings). Nothing is accepted around the number: no blanks, no trailing
// characters, and a value outside the given bounds (an overflow included) is
// refused rather than cut or wrapped.

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace taskhaul::base {

// An optional "+" or "-" followed by decimal digits, from `min` to `max`.
std::optional<std::int64_t> ParseInteger(std::string_view text,
    std::int64_t min = std::numeric_limits<std::int64_t>::min(),
    std::int64_t max = std::numeric_limits<std::int64_t>::max()) noexcept;

// Decimal digits only (no sign), from 0 to `max`.
std::optional<std::int64_t> ParseDigits(
    std::string_view text, std::int64_t max = std::numeric_limits<std::int64_t>::max()) noexcept;

// Non-empty and decimal digits only (any length; no value is computed).
bool IsDigits(std::string_view text) noexcept;

} // namespace taskhaul::base
