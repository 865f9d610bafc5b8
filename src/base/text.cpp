#include "base/text.h"

namespace taskhaul::base {

char AsciiUpper(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char AsciiLower(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiUpper(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = AsciiUpper(c);
    return result;
}

std::string AsciiLower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = AsciiLower(c);
    return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i]))
            return false;
    return true;
}

std::vector<std::string_view> SplitWords(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> words;
    std::size_t pos = text.find_first_not_of(separators);
    while (pos != std::string_view::npos) {
        const std::size_t end = text.find_first_of(separators, pos);
        words.push_back(text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
        pos = end == std::string_view::npos ? end : text.find_first_not_of(separators, end);
    }
    return words;
}

} // namespace taskhaul::base
