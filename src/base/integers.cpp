#include "base/integers.h"

#include <charconv>

namespace taskhaul::base {

bool IsDigits(std::string_view text) noexcept
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::optional<std::int64_t> ParseDigits(std::string_view text, std::int64_t max) noexcept
{
    return IsDigits(text) ? ParseInteger(text, 0, max) : std::nullopt;
}

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t min, std::int64_t max) noexcept
{
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
    if (!IsDigits(digits))
        return std::nullopt;
    // from_chars takes a "-" but not a "+".
    if (text.front() == '+')
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

} // namespace taskhaul::base
