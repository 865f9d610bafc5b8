#include "base/integers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace taskhaul::base {
namespace {

using Result = std::optional<std::int64_t>;
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
constexpr auto kMax = std::numeric_limits<std::int64_t>::max();

TEST(ParseInteger, Table)
{
    struct Case {
        std::string_view text;
        std::int64_t min, max;
        Result value;
    };
    const Case cases[] = {
        { "0", kMin, kMax, 0 },
        { "+5", kMin, kMax, 5 },
        { "-5", kMin, kMax, -5 },
        { "007", kMin, kMax, 7 },
        { "9223372036854775807", kMin, kMax, kMax },
        { "-9223372036854775808", kMin, kMax, kMin },
        { "9223372036854775808", kMin, kMax, std::nullopt }, // overflow is refused, not cut
        { "99999999999999999999999", kMin, kMax, std::nullopt },
        { "", kMin, kMax, std::nullopt },
        { "+", kMin, kMax, std::nullopt },
        { "-", kMin, kMax, std::nullopt },
        { "+-5", kMin, kMax, std::nullopt },
        { " 5", kMin, kMax, std::nullopt },
        { "5 ", kMin, kMax, std::nullopt },
        { "5k", kMin, kMax, std::nullopt },
        { "0x10", kMin, kMax, std::nullopt },
        { "100", 100, 999, 100 },
        { "999", 100, 999, 999 },
        { "99", 100, 999, std::nullopt },
        { "1000", 100, 999, std::nullopt },
        { "2147483648", -2147483648LL, 2147483647, std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseInteger(c.text, c.min, c.max), c.value) << '"' << c.text << '"';
}

TEST(ParseDigits, RefusesSignsAndBounds)
{
    EXPECT_EQ(ParseDigits("255", 255), 255);
    EXPECT_EQ(ParseDigits("256", 255), std::nullopt);
    EXPECT_EQ(ParseDigits("+1"), std::nullopt);
    EXPECT_EQ(ParseDigits("-1"), std::nullopt);
    EXPECT_EQ(ParseDigits(""), std::nullopt);
    EXPECT_EQ(ParseDigits("18446744073709551616"), std::nullopt);
    EXPECT_TRUE(IsDigits("0123"));
    EXPECT_FALSE(IsDigits("12a"));
    EXPECT_FALSE(IsDigits(""));
}

} // namespace
} // namespace taskhaul::base
