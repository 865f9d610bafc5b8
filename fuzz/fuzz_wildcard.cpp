// Wildcard matching: the input is a pattern and a name separated by the first
// line feed (without one, the input is compared with itself). The matcher is
// checked against a direct top-down evaluation of the same rules on short
// inputs, and the case-blind variant against the matcher on upper-cased text.

#include "fuzz_check.h"
#include "transfer/file_template.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The rules of the matcher, evaluated top-down with a memo of the pairs of
// suffixes. F: a fresh start at (i, j); G: the walk reaching (i, j).
class ReferenceMatch {
public:
    ReferenceMatch(std::string_view a, std::string_view b)
        : a_(a)
        , b_(b)
        , memo_((a.size() + 1) * (b.size() + 1), kUnknown)
    {
    }

    bool Result() { return Fresh(0, 0); }

private:
    static constexpr char kUnknown = 2;

    bool StarsOnly(std::string_view text, std::size_t from) const
    {
        return text.find_first_not_of('*', from) == std::string_view::npos;
    }

    bool Fresh(std::size_t i, std::size_t j)
    {
        const std::size_t n = a_.size(), m = b_.size();
        if (i == n && j == m)
            return true;
        if (i == n)
            return b_[j] == '*';
        if (j == m)
            return a_[i] == '*';
        return Walk(i, j);
    }

    bool Walk(std::size_t i, std::size_t j)
    {
        const std::size_t n = a_.size(), m = b_.size();
        if (i == n || j == m)
            return StarsOnly(a_, i) && StarsOnly(b_, j);
        char& known = memo_[i * (m + 1) + j];
        if (known != kUnknown)
            return known;
        bool result = false;
        if (a_[i] == '?' || b_[j] == '?') {
            result = Walk(i + 1, j + 1);
        } else if (a_[i] == '*') {
            result = i + 1 == n;
            for (std::size_t k = j; !result && k < m; ++k)
                result = Fresh(i + 1, k);
        } else if (b_[j] == '*') {
            result = j + 1 == m;
            for (std::size_t k = i; !result && k < n; ++k)
                result = Fresh(k, j + 1);
        } else {
            result = a_[i] == b_[j] && Walk(i + 1, j + 1);
        }
        known = result;
        return result;
    }

    std::string_view a_;
    std::string_view b_;
    std::vector<char> memo_;
};

std::string AsciiUpper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// Long enough for real file names, short enough for the top-down evaluation.
constexpr std::size_t kReferenceLimit = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using taskhaul::MatchFileName;
    using taskhaul::WildcardMatch;

    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto split = input.find('\n');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? input : input.substr(split + 1);

    const bool match = WildcardMatch(pattern, name);
    FUZZ_REQUIRE(MatchFileName(pattern, name, true) == match);
    FUZZ_REQUIRE(MatchFileName(pattern, name, false) == WildcardMatch(AsciiUpper(pattern), AsciiUpper(name)));
    FUZZ_REQUIRE(WildcardMatch(pattern, pattern));
    FUZZ_REQUIRE(MatchFileName(pattern, AsciiUpper(pattern), false));
    if (pattern.size() <= kReferenceLimit && name.size() <= kReferenceLimit)
        FUZZ_REQUIRE(ReferenceMatch(pattern, name).Result() == match);
    return 0;
}
