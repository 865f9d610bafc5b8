#include "ftp/listing/list_parser.h"

#include <gtest/gtest.h>

#include <set>

namespace taskhaul::ftp {
namespace {

TEST(ListingLines, SplitAtEveryKindOfLineBreak)
{
    using namespace std::string_literals;
    struct Case {
        std::string text;
        ListingLines lines;
    };
    const Case cases[] = {
        { "", {} },
        { "a", { "a" } },
        { "a\r\nb\r\n", { "a", "b" } }, // a final break adds no empty line
        { "a\nb\rc\r\nd", { "a", "b", "c", "d" } },
        { "a\r\n\r\nb\n\nc\r\rd", { "a", "", "b", "", "c", "", "d" } }, // empty lines inside are kept
        { "\n", { "" } },
        { "a\n\r", { "a", "" } }, // LF CR is two breaks
        { "a\r\nb\0c\r\nd"s, { "a", "b" } }, // NUL ends the text
        { "\0a"s, {} },
    };
    for (const Case& c : cases)
        EXPECT_EQ(splitListingLines(c.text), c.lines) << testing::PrintToString(c.text);
}

TEST(ListParserRegistry, HoldsEveryFormatOnceInTryingOrder)
{
    const auto& registry = listParserRegistry();
    ASSERT_EQ(registry.size(), 45u);
    std::set<std::string_view> idents;
    for (const auto& parser : registry)
        EXPECT_TRUE(idents.insert(parser->ident()).second) << parser->ident();
    // Spot checks of the order: the general formats come before the ones they could shadow.
    EXPECT_EQ(registry[0]->ident(), "NLIST");
    EXPECT_EQ(registry[1]->ident(), "MLST");
    EXPECT_EQ(registry[3]->ident(), "Windows NT");
    EXPECT_EQ(registry[16]->ident(), "Unix");
    EXPECT_EQ(registry[17]->ident(), "Unitree");
    EXPECT_EQ(registry[44]->ident(), "AS400");
}

} // namespace
} // namespace taskhaul::ftp
