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

// A format that takes lines beginning with "ok" and fails on the first "bad" line.
class FussyParser final : public ListParser {
public:
    explicit FussyParser(std::string ident)
        : ident_(std::move(ident))
    {
    }
    std::string_view ident() const override { return ident_; }
    bool check(const ListingLines& lines, std::string_view, bool details) const override
    {
        return details && !lines.empty() && lines.front().starts_with("ok");
    }
    void parse(const ListingLines& lines, const ListParseContext&, TFtpListItems& items) const override
    {
        for (const std::string& line : lines) {
            if (line == "bad")
                throw EListParseError("Invalid argument to date encode");
            TFtpListItem item;
            item.FileName = line;
            items.add(item);
        }
    }

private:
    std::string ident_;
};

std::vector<std::unique_ptr<ListParser>> fussyParsers()
{
    std::vector<std::unique_ptr<ListParser>> parsers;
    parsers.push_back(std::make_unique<FussyParser>("first"));
    parsers.push_back(std::make_unique<FussyParser>("second"));
    return parsers;
}

TEST(ParseListing, FirstAcceptingParserWins)
{
    TFtpListItems items;
    EXPECT_EQ(parseListing(fussyParsers(), { "ok 1", "ok 2" }, "", {}, items), "first");
    EXPECT_EQ(items.count(), 2);
}

TEST(ParseListing, NoLinesOrNoTakerLeaveTheFolderEmpty)
{
    TFtpListItems items;
    EXPECT_EQ(parseListing(fussyParsers(), {}, "", {}, items), std::nullopt);
    EXPECT_EQ(parseListing(fussyParsers(), { "nobody knows this" }, "", {}, items), std::nullopt);
    EXPECT_EQ(parseListing({ "nobody knows this", "ok" }, "UNIX", {}, items), std::nullopt);
    EXPECT_TRUE(items.empty());
}

TEST(ParseListing, FailureKeepsTheItemsMadeBeforeIt)
{
    TFtpListItems items;
    try {
        parseListing(fussyParsers(), { "ok 1", "ok 2", "bad", "ok 3" }, "", {}, items);
        FAIL() << "no error";
    } catch (const EListParseError& error) {
        EXPECT_STREQ(error.what(), "Invalid argument to date encode");
    }
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[1].FileName, "ok 2");
}

TEST(ListItems, IndexOutsideTheItemsFails)
{
    TFtpListItems items;
    items.add(TFtpListItem {});
    EXPECT_EQ(items[0].ItemType, ItemType::File); // a new item is a file
    EXPECT_TRUE(items[0].SizeAvailable);
    EXPECT_TRUE(items[0].ModifiedAvailable);
    for (const int index : { 1, -1, 5 }) {
        try {
            (void)items.at(index);
            ADD_FAILURE() << index;
        } catch (const EListIndexError& error) {
            EXPECT_EQ(std::string(error.what()), "List index out of bounds (" + std::to_string(index) + ")");
        }
    }
}

} // namespace
} // namespace taskhaul::ftp
