// Name templates: the input is a template, expanded against a few fixed moments
// and sequence numbers (an ordinary day, the first of a year so that every
// previous-date field steps back across a month and a year, the day after a leap
// day, and sequence numbers on both sides of the allowed range).

#include "fuzz_check.h"
#include "transfer/file_template.h"

#include <array>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

struct Moment {
    taskhaul::LocalDateTime now;
    int sequence;
};

constexpr std::array<Moment, 4> kMoments { {
    { { 2026, 7, 15, 13, 5, 9 }, 42 },
    { { 2027, 1, 1, 0, 0, 0 }, 0 },
    { { 2024, 3, 1, 23, 59, 59 }, taskhaul::kSequenceMax + 1 },
    { { 2100, 3, 1, 9, 30, 0 }, INT_MIN },
} };

// Bytes that no field name, bracket or field value can hold: a template keeps
// every one of them.
bool KeptAlways(unsigned char c)
{
    return !std::isalnum(c) && c != '[' && c != ']';
}

std::array<std::size_t, 256> KeptCounts(std::string_view text)
{
    std::array<std::size_t, 256> counts {};
    for (const char c : text)
        if (KeptAlways(static_cast<unsigned char>(c)))
            ++counts[static_cast<unsigned char>(c)];
    return counts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view nameTemplate(reinterpret_cast<const char*>(data), size);
    const auto keptInTemplate = KeptCounts(nameTemplate);
    const bool hasField = nameTemplate.find('[') != std::string_view::npos;

    for (const Moment& moment : kMoments) {
        const std::string name = taskhaul::ExpandFileTemplate(nameTemplate, moment.now, moment.sequence);
        FUZZ_REQUIRE(name.empty() == nameTemplate.empty());
        FUZZ_REQUIRE(hasField || name == nameTemplate);
        FUZZ_REQUIRE(KeptCounts(name) == keptInTemplate);
        FUZZ_REQUIRE(taskhaul::TemplateCheckMessage(nameTemplate, moment.now, moment.sequence)
            == "The file name is: " + name);
        // The expanded name is what the one-file transfer compares remote names with.
        FUZZ_REQUIRE(taskhaul::MatchFileName(name, name, false));
    }
    return 0;
}
