#include "base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taskhaul::base {
namespace {

TEST(AsciiCase, OnlyAsciiLettersChange)
{
    // Bytes of UTF-8 sequences and Latin-1 letters stay as they are.
    const std::string mixed = "aZ09 _-\xC3\xA9\xE9\x7F";
    EXPECT_EQ(AsciiUpper(mixed), "AZ09 _-\xC3\xA9\xE9\x7F");
    EXPECT_EQ(AsciiLower(mixed), "az09 _-\xC3\xA9\xE9\x7F");
    EXPECT_EQ(AsciiUpper('`'), '`'); // the neighbours of the letter ranges
    EXPECT_EQ(AsciiUpper('{'), '{');
    EXPECT_EQ(AsciiLower('@'), '@');
    EXPECT_EQ(AsciiLower('['), '[');
}

TEST(AsciiCase, EqualsIgnoreCase)
{
    struct Case {
        std::string_view a, b;
        bool equal;
    };
    const Case cases[] = {
        { "Total", "TOTAL", true }, { "", "", true }, { "abc", "abcd", false },
        { "\xE9", "\xC9", false }, // Latin-1 letters are not folded
        { "a[", "A{", false }, // '[' and '{' differ by the case bit but are no letters
    };
    for (const Case& c : cases)
        EXPECT_EQ(EqualsIgnoreCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(SplitWords, Table)
{
    using Words = std::vector<std::string_view>;
    struct Case {
        std::string_view text, separators;
        Words words;
    };
    const Case cases[] = {
        { "  a  bb   c ", kBlanksAndTabs, { "a", "bb", "c" } },
        { "a\t\tb \tc", kBlanksAndTabs, { "a", "b", "c" } },
        { "a\tb c", kBlanks, { "a\tb", "c" } },
        { "", kBlanks, {} },
        { " \t ", kBlanksAndTabs, {} },
        { "one", kBlanks, { "one" } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitWords(c.text, c.separators), c.words) << c.text;
}

TEST(SplitWords, ViewsPointIntoTheText)
{
    const std::string text = "x yz";
    const auto words = SplitWords(text);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(words[1].data(), text.data() + 2);
}

} // namespace
} // namespace taskhaul::base
