// Listing the current folder: the type switch around LIST, line splitting and parsing.

#include "client_fixture.h"

#include <gmock/gmock.h>

#include <atomic>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::ElementsAre;

const std::string kUnixListing = "total 12\r\n"
                                 "drwxr-xr-x    2 ftp      ftp          4096 Mar 14  2025 incoming\r\n"
                                 "-rw-r--r--    1 ftp      ftp         12345 Mar 14  2025 report.csv\r\n";

TEST_F(ClientTest, ListFolderSwitchesToAsciiAndBack)
{
    server.setListing(kUnixListing);
    client.SetPassive(true);
    Connect();
    std::vector<std::string> lines;
    client.ListFolder(lines);
    EXPECT_THAT(lines,
        ElementsAre("total 12", ::testing::StartsWith("drwxr-xr-x"), ::testing::EndsWith("report.csv")));
    EXPECT_EQ(client.ListingLines(), lines);
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "TYPE A", "PASV", "LIST", "TYPE I" }));
    EXPECT_EQ(client.TransferType(), TFtpTransferType::ftBinary);

    auto& items = client.ParsedListing();
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, "incoming");
    EXPECT_EQ(items[0].ItemType, ItemType::Directory);
    EXPECT_EQ(items[1].FileName, "report.csv");
    EXPECT_EQ(items[1].ItemType, ItemType::File);
    EXPECT_EQ(items[1].Size, 12345);
    EXPECT_EQ(client.ListingFormat(), "Unix");
    EXPECT_THROW(items.at(2), std::out_of_range);
}

// MLSD answers do not depend on the transfer type: no TYPE around it. Its lines
// are facts, parsed as such; a refusal leaves the listing before it.
TEST_F(ClientTest, MachineListingKeepsTheTypeAndARefusalKeepsThePreviousListing)
{
    server.setListing(kUnixListing);
    server.on("MLSD", [](test::FtpSession& s, const std::string&) {
        s.runTransfer(
            DataPlan {}, "type=cdir; /\r\ntype=file;size=7;modify=20250314101500;  odd name \r\n", false, {});
    });
    client.SetPassive(true);
    Connect();
    std::vector<std::string> lines;
    client.ListFolderMachine(lines);
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "PASV", "MLSD" }));
    EXPECT_TRUE(client.ListingIsMachine());
    auto& items = client.ParsedListing();
    ASSERT_EQ(items.count(), 1);
    EXPECT_EQ(items[0].FileName, " odd name ");
    EXPECT_EQ(items[0].Size, 7);
    EXPECT_EQ(items[0].ModifiedDate, (ListDateTime { 2025, 3, 14, 10, 15, 0, 0 }));
    EXPECT_EQ(client.ListingFormat(), "MLST");

    client.ListFolder(lines);
    EXPECT_FALSE(client.ListingIsMachine());
    EXPECT_EQ(client.ParsedListing().count(), 2);
    EXPECT_EQ(client.ListingFormat(), "Unix");

    server.reply("MLSD", "500 Unknown command.\r\n");
    EXPECT_THROW(client.ListFolderMachine(lines), EFtpReplyError);
    EXPECT_FALSE(client.ListingIsMachine());
    EXPECT_EQ(client.ParsedListing().count(), 2);
    EXPECT_EQ(client.ListingLines().size(), 3u);
}

// An MLSD line that is no entry is reported once the rest is parsed; asked
// again, the listing gives what was understood (the run fetches that and says
// the folder held more). A link is not a file.
TEST_F(ClientTest, MachineListingReportsALineThatIsNoEntryAndKeepsTheRest)
{
    server.on("MLSD", [](test::FtpSession& s, const std::string&) {
        s.runTransfer(
            DataPlan {}, "type=OS.unix=slink:/pub/; pub\r\ntotal 2\r\ntype=file;size=1; a\r\n", false, {});
    });
    client.SetPassive(true);
    Connect();
    std::vector<std::string> lines;
    client.ListFolderMachine(lines);
    EXPECT_EQ(ErrorOf([&] { client.ParsedListing(); }), "Line not understood: \"total 2\"");
    EXPECT_EQ(client.ListingFormat(), "MLST");
    const auto& items = client.ParsedListing();
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(items[0].FileName, "pub");
    EXPECT_EQ(items[0].ItemType, ItemType::SymbolicLinkToDirectory);
    EXPECT_EQ(items[1].FileName, "a");
    EXPECT_EQ(items[1].ItemType, ItemType::File);
}

TEST_F(ClientTest, ListFolderInAsciiModeSendsNoTypeCommands)
{
    Connect();
    client.SetTransferType(TFtpTransferType::ftASCII);
    std::vector<std::string> lines;
    client.ListFolder(lines, "-a ");
    EXPECT_EQ(CommandsAfterLogin().back(), "LIST -a");
    EXPECT_EQ(CommandsAfterLogin().front(), "TYPE A");
    EXPECT_EQ(CommandsAfterLogin().size(), 3u); // TYPE A, PORT, LIST
}

TEST_F(ClientTest, TypeIsRestoredWhenTheListingFails)
{
    server.reply("LIST", "550 Permission denied.\r\n");
    client.SetPassive(true);
    Connect();
    std::vector<std::string> lines { "stale" };
    EXPECT_EQ(ErrorOf([&] { client.ListFolder(lines); }), "Permission denied.");
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "TYPE A", "PASV", "LIST", "TYPE I" }));
    EXPECT_EQ(client.TransferType(), TFtpTransferType::ftBinary);
    EXPECT_THAT(lines, ElementsAre("stale"));
}

TEST_F(ClientTest, ListingLargerThanTheLimitFailsAndTheClientStaysUsable)
{
    auto limits = ShortLimits();
    limits.MaxListingBytes = kUnixListing.size();
    client.SetLimits(limits);
    server.setListing(kUnixListing);
    Connect();
    std::vector<std::string> lines;
    client.ListFolder(lines); // exactly at the limit
    ASSERT_EQ(lines.size(), 3u);

    // A server that never ends its listing.
    limits.MaxListingBytes = 256 * 1024;
    client.SetLimits(limits);
    std::atomic<std::size_t> sent = 0;
    server.on("LIST", [&sent](test::FtpSession& s, const std::string&) {
        if (!s.openData()) {
            s.send("425 Cannot open data connection.\r\n");
            return;
        }
        s.send("150 Here comes the directory listing.\r\n");
        std::string block;
        while (block.size() < 64 * 1024)
            block += "-rw-r--r--    1 ftp      ftp             1 Mar 14  2025 file"
                + std::to_string(block.size()) + "\r\n";
        // Bounded for the test's sake: 64 MiB at most, whatever the client does.
        for (int i = 0; i < 1024 && s.sendData(block); ++i)
            sent += block.size();
        s.closeData();
        s.send("426 Data connection closed.\r\n");
    });
    for (const bool passive : { true, false }) {
        SCOPED_TRACE(passive ? "passive" : "active");
        client.SetPassive(passive);
        sent = 0;
        EXPECT_EQ(ErrorOf([&] { client.ListFolder(lines); }), "Listing too long.");
        EXPECT_LT(sent.load(), 8u * 1024 * 1024);
        // The earlier listing stays, the type is restored, and the next command
        // gets its own reply.
        EXPECT_EQ(lines.size(), 3u);
        EXPECT_EQ(client.ListingLines().size(), 3u);
        EXPECT_EQ(client.TransferType(), TFtpTransferType::ftBinary);
        EXPECT_TRUE(client.IsConnected());
        server.addFile("a.txt", "abc");
        EXPECT_EQ(client.FileSize("a.txt"), 3);
    }
}

TEST_F(ClientTest, ListingCutShortByTheServerIsReported)
{
    struct Case {
        std::string final;
        bool truncated;
    };
    const std::vector<Case> cases {
        { "226-Options: -l\r\n226 Output truncated to 10000 matches\r\n", true },
        { "226 LISTING TRUNCATED.\r\n", true },
        { "226 Transfer complete.\r\n", false },
        { "250-Listing follows\r\n250 Done\r\n", false },
    };
    server.setListing(kUnixListing);
    Connect();
    std::vector<std::string> lines;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.final);
        DataPlan plan;
        plan.final = c.final;
        server.setDataPlan("LIST", plan);
        client.ListFolder(lines);
        EXPECT_EQ(lines.size(), 3u);
        EXPECT_EQ(client.ListingTruncated(), c.truncated);
    }
    DataPlan cutShort;
    cutShort.final = "226-Options: -l\r\n226 Output truncated to 10000 matches\r\n";
    server.setDataPlan("LIST", cutShort);
    client.ListFolder(lines);
    EXPECT_EQ(client.ListingReply().NumericCode, 226);
    EXPECT_THAT(
        client.ListingReply().ReplyText, ElementsAre("Options: -l", "Output truncated to 10000 matches"));
    // A failed listing says nothing about a cut: the flag and the reply are cleared.
    server.reply("LIST", "550 Permission denied.\r\n");
    EXPECT_THROW(client.ListFolder(lines), EFtpReplyError);
    EXPECT_FALSE(client.ListingTruncated());
    EXPECT_TRUE(client.ListingReply().ReplyText.empty());
}

TEST_F(ClientTest, ListingTextIsSplitIntoLines)
{
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases {
        { "a\r\nb\r\n", { "a", "b" } },
        { "a\nb", { "a", "b" } },
        { "a\rb\r", { "a", "b" } },
        { "a\r\n\r\nb\n", { "a", "", "b" } },
        { std::string("a\r\nb\0c\r\nd", 9), { "a", "b" } },
        { "", {} },
    };
    Connect();
    for (const auto& c : cases) {
        server.setListing(c.text);
        std::vector<std::string> lines;
        client.ListFolder(lines);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(ClientTest, ParsedListingIsEmptyBeforeAnyListingAndForUnknownFormats)
{
    EXPECT_EQ(client.ParsedListing().count(), 0);
    server.setListing("something no parser knows\r\n");
    Connect();
    std::vector<std::string> lines;
    client.ListFolder(lines);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(client.ParsedListing().count(), 0);
    EXPECT_EQ(client.ListingFormat(), "");
}

TEST_F(ClientTest, ParsedListingIsRebuiltAfterEachListing)
{
    server.setListing(kUnixListing);
    Connect();
    std::vector<std::string> lines;
    client.ListFolder(lines);
    EXPECT_EQ(client.ParsedListing().count(), 2);
    server.setListing("-rw-r--r--    1 ftp      ftp         1 Mar 14  2025 only.txt\r\n");
    client.ListFolder(lines);
    ASSERT_EQ(client.ParsedListing().count(), 1);
    EXPECT_EQ(client.ParsedListing()[0].FileName, "only.txt");
}

} // namespace
} // namespace taskhaul::ftp::testing
