// The data side: PASV and PORT, retrieval into files and streams, sizes, abort.

#include "client_fixture.h"

#include "ftp/ftp_data.h"
#include "ftp/loopback.h"

#include <gmock/gmock.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Binary(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    return bytes;
}

// ---- Texts of the data side ----

TEST(PassiveReply, AddressAndPort)
{
    struct Case {
        std::string text;
        std::string address;
        int port;
    };
    const std::vector<Case> cases {
        { "Entering Passive Mode (192,168,1,2,19,137).", "192.168.1.2", 5001 },
        { "Entering Passive Mode 10,0,0,1,4,1", "10.0.0.1", 1025 },
        { "=127,0,0,1,0,21", "127.0.0.1", 21 }, // no blank: the whole text, from its first digit
        { "  (1,2,3,4, 19, 137 )  ", "1.2.3.4", 5001 },
        { "(255,255,255,255,255,255)", "255.255.255.255", 65535 },
        { "(001,002,003,004,000,021)", "001.002.003.004", 21 },
    };
    for (const auto& c : cases) {
        const auto endpoint = ParsePassiveReply({ c.text });
        EXPECT_EQ(endpoint.address, c.address) << c.text;
        EXPECT_EQ(endpoint.port, c.port) << c.text;
    }
}

TEST(PassiveReply, EveryNumberIsBoundedBeforeItIsUsed)
{
    struct Case {
        std::string text;
        std::string error;
    };
    const std::vector<Case> cases {
        { "Entering Passive Mode (1,2,3,4,x,5)", "'x' is not a valid integer value" },
        { "Entering Passive Mode (1,2,3,4,5)", "'' is not a valid integer value" },
        { "(1,2,3,4,256,1)", "'256' is not a valid integer value" },
        { "(1,2,3,4,1,256)", "'256' is not a valid integer value" },
        // 16777216 * 256 wraps a 32-bit product to 0: the reply would name port 21.
        { "(127,0,0,1,16777216,21)", "'16777216' is not a valid integer value" },
        { "(127,0,0,1,4294967296,21)", "'4294967296' is not a valid integer value" },
        { "(127,0,0,1,99999999999999999999999,1)", "'99999999999999999999999' is not a valid integer value" },
        { "(127,0,0,1,0019,137)", "'0019' is not a valid integer value" },
        { "(127,0,0,1,-1,21)", "'-1' is not a valid integer value" },
        { "(127,0,0,1,+1,21)", "'+1' is not a valid integer value" },
        { "(127,0,0,1,1,2,3)", "'2,3' is not a valid integer value" },
        { "(300,0,0,1,4,1)", "'300' is not a valid integer value" },
        { "(127,0,0,,4,1)", "'' is not a valid integer value" },
        { "(a.b,0,0,1,4,1)", "'a.b' is not a valid integer value" },
        { "(127,0,0,1,0,0)", "Invalid port 0 in the passive mode reply." },
        { "", "'' is not a valid integer value" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf([&] { ParsePassiveReply({ c.text }); }), c.error) << c.text;
    EXPECT_THROW(ParsePassiveReply({ "(127,0,0,1,16777216,21)" }), EConvertError);
}

TEST(DataTexts, PortArgumentAndSizes)
{
    EXPECT_EQ(PortArgument("127.0.0.1", 5001), "127,0,0,1,19,137");
    EXPECT_EQ(ParseSizeReply({ "1234" }), 1234);
    EXPECT_EQ(ParseSizeReply({ "5000000000" }), 5000000000LL);
    EXPECT_EQ(ParseSizeReply({ "size 12" }), 12);
    EXPECT_EQ(ParseSizeReply({ "size is 12" }), -1);
    EXPECT_EQ(ParseSizeReply({ "twelve" }), -1);
    EXPECT_EQ(
        AnnouncedSize({ "Opening BINARY mode data connection for a.bin (5000000000 bytes)." }), 5000000000LL);
    EXPECT_EQ(AnnouncedSize({ "Opening BINARY mode data connection." }), std::nullopt);
    // Counts that are not plain, modest numbers announce nothing.
    for (const std::string bad : { "(99999999999999999999999 bytes)", "(9223372036854775807 bytes)",
             "(-5 bytes)", "(+5 bytes)", "( bytes)", "(5 5 bytes)" })
        EXPECT_EQ(AnnouncedSize({ "Opening data connection for a.bin " + bad + "." }), std::nullopt) << bad;
    EXPECT_EQ(AnnouncedSize({ "for a.bin (999999999999999999 bytes)" }), 999999999999999999LL);
}

// ---- Size query and type ----

TEST_F(ClientTest, FileSizeReportsTheServersAnswerOrMinusOne)
{
    server.addFile("a.bin", "12345");
    server.on("SIZE", [](test::FtpSession& s, const std::string& name) {
        if (name == "big.iso")
            s.send("213 5000000000\r\n");
        else if (name == "a.bin")
            s.send("213 5\r\n");
        else
            s.send("550 " + name + ": No such file.\r\n");
    });
    Connect();
    EXPECT_EQ(client.FileSize("a.bin"), 5);
    EXPECT_EQ(client.FileSize("big.iso"), 5000000000LL);
    EXPECT_EQ(client.FileSize("missing"), -1);
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(ClientTest, TransferTypeIsSentOnlyWhenItChanges)
{
    Connect();
    client.SetTransferType(TFtpTransferType::ftBinary);
    client.SetTransferType(TFtpTransferType::ftASCII);
    client.SetTransferType(TFtpTransferType::ftASCII);
    client.SetTransferType(TFtpTransferType::ftBinary);
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "TYPE A", "TYPE I" }));

    // While data flows the type stays as it is.
    server.addFile("a.txt", "abc");
    client.OnWork = [&](TWorkMode, std::int64_t) { client.SetTransferType(TFtpTransferType::ftASCII); };
    std::ostringstream out;
    client.RetrieveToStream("a.txt", out);
    EXPECT_EQ(client.TransferType(), TFtpTransferType::ftBinary);
    EXPECT_EQ(CommandsAfterLogin().back(), "RETR a.txt");
}

// ---- Retrieval, both modes ----

class Retrieval : public ClientTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        client.SetPassive(GetParam());
    }
    bool Passive() const { return GetParam(); }

    // The data-connection command of the mode, as the server received it.
    std::string ModeCommand() const
    {
        for (const auto& command : server.commands())
            if (command.starts_with("PASV") || command.starts_with("PORT"))
                return command;
        return {};
    }

    TempFolder folder;
};

INSTANTIATE_TEST_SUITE_P(Modes, Retrieval, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(Retrieval, DownloadsTheFileWithProgress)
{
    const std::string content = Binary(600 * 1024);
    server.addFile("data.bin", content);
    Connect();
    std::vector<std::int64_t> counts;
    int begins = 0, ends = 0;
    std::vector<std::int64_t> maxima;
    client.OnWorkBegin = [&](TWorkMode mode, std::int64_t max) {
        EXPECT_EQ(mode, TWorkMode::wmRead);
        maxima.push_back(max);
        ++begins;
    };
    client.OnWork = [&](TWorkMode, std::int64_t count) { counts.push_back(count); };
    client.OnWorkEnd = [&](TWorkMode) { ++ends; };

    client.RetrieveFile("data.bin", folder.File("data.bin"), false);

    EXPECT_EQ(ReadFile(folder.File("data.bin")), content);
    EXPECT_THAT(folder.Entries(), ElementsAre("data.bin"));
    EXPECT_EQ(begins, 1);
    // Nothing told the client the size: the progress starts without one.
    EXPECT_THAT(maxima, ElementsAre(0));
    EXPECT_EQ(ends, 1);
    ASSERT_FALSE(counts.empty());
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_EQ(counts.back(), static_cast<std::int64_t>(content.size()));
    if (Passive()) {
        EXPECT_EQ(CommandsAfterLogin(), (Commands { "PASV", "RETR data.bin" }));
    } else {
        const auto after = CommandsAfterLogin();
        ASSERT_EQ(after.size(), 2u);
        EXPECT_TRUE(std::regex_match(after[0], std::regex("PORT 127,0,0,1,[0-9]+,[0-9]+"))) << after[0];
        EXPECT_EQ(after[1], "RETR data.bin");
    }

    // Once SIZE has answered for the file, the progress starts with that size.
    const auto size = static_cast<std::int64_t>(content.size());
    server.on("SIZE",
        [size](test::FtpSession& s, const std::string&) { s.send("213 " + std::to_string(size) + "\r\n"); });
    ASSERT_EQ(client.FileSize("data.bin"), size);
    client.RetrieveFile("data.bin", folder.File("again.bin"), false);
    EXPECT_THAT(maxima, ElementsAre(0, size));
}

TEST_P(Retrieval, RefusedRetrLeavesNoFileBehind)
{
    Connect();
    try {
        client.RetrieveFile("missing.txt", folder.File("missing.txt"), false);
        FAIL() << "no error";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.ReplyCode(), 550);
        EXPECT_STREQ(error.what(), "missing.txt: No such file.");
    }
    EXPECT_TRUE(folder.Entries().empty());
    // The next run finds nothing in its way, and the connection is still in step.
    server.addFile("missing.txt", "now here");
    client.RetrieveFile("missing.txt", folder.File("missing.txt"), false);
    EXPECT_EQ(ReadFile(folder.File("missing.txt")), "now here");
}

TEST_P(Retrieval, ShortTransferIsNotASuccess)
{
    server.addFile("a.bin", Binary(1000));
    DataPlan plan;
    plan.cutAfter = 400;
    server.setDataPlan("a.bin", plan);
    Connect();
    const std::string error = ErrorOf([&] { client.RetrieveFile("a.bin", folder.File("a.bin"), true); });
    EXPECT_THAT(error, HasSubstr("1000"));
    EXPECT_THAT(error, HasSubstr("400"));
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_P(Retrieval, SizeFromSizeCommandIsCheckedToo)
{
    server.addFile("a.bin", Binary(1000));
    DataPlan plan;
    plan.cutAfter = 999;
    plan.preliminary = "150 Opening data connection.\r\n"; // announces nothing
    server.setDataPlan("a.bin", plan);
    // A file that grew between SIZE and RETR: the 150 reply's count is the one that holds.
    server.addFile("growing.log", Binary(1200));
    server.on("SIZE", [](test::FtpSession& s, const std::string&) { s.send("213 1000\r\n"); });
    Connect();
    ASSERT_EQ(client.FileSize("a.bin"), 1000);
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.bin", folder.File("a.bin"), true); }),
        "Transfer incomplete: the server announced 1000 bytes, but 999 bytes were received.");
    ASSERT_EQ(client.FileSize("growing.log"), 1000);
    EXPECT_NO_THROW(client.RetrieveFile("growing.log", folder.File("growing.log"), true));
    EXPECT_EQ(ReadFile(folder.File("growing.log")).size(), 1200u);
}

TEST_P(Retrieval, OnlyAConfirmedTransferReplacesTheOlderCopy)
{
    struct Case {
        std::string final; // the server's replies after the data
        std::string error; // "" for success
    };
    // Every byte arrives and matches the announced size in each case: only the
    // server's final word decides.
    const std::vector<Case> cases {
        { "426 Connection closed.\r\n226 Done anyway.\r\n", "Connection closed." },
        { "426-Transfer cut.\r\n426 Try again.\r\n226 Closing.\r\n", "Transfer cut.\nTry again." },
        { "450 Link to file server lost.\r\n226 Closing.\r\n", "Link to file server lost." },
        { "451 Local error.\r\n", "Local error." },
        { "550 File changed during transfer.\r\n", "File changed during transfer." },
        { "225 Data connection open.\r\n", "Data connection open." },
        { "250 Requested file action okay.\r\n", "" },
        { "226 Transfer complete.\r\n", "" },
    };
    const std::string older = "older copy\r\n" + std::string(1, '\0') + "kept byte for byte";
    const std::string content = Binary(3000);
    server.addFile("a.bin", content);
    Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.final);
        WriteFile(folder.File("a.bin"), older);
        DataPlan plan;
        plan.final = c.final;
        server.setDataPlan("a.bin", plan);
        EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.bin", folder.File("a.bin"), true); }), c.error);
        EXPECT_EQ(ReadFile(folder.File("a.bin")), c.error.empty() ? content : older);
        // No temporary file is left behind, and every reply was taken in.
        EXPECT_THAT(folder.Entries(), ElementsAre("a.bin"));
        EXPECT_EQ(client.FileSize("a.bin"), 3000);
    }
}

TEST_P(Retrieval, CutShortTransferReportsTheServersReason)
{
    // Part of the file arrived and the server says so: its text is the reason,
    // and both replies are consumed.
    server.addFile("part.bin", Binary(3000));
    DataPlan part;
    part.cutAfter = 1000;
    part.final = "426 Connection closed.\r\n226 Done anyway.\r\n";
    server.setDataPlan("part.bin", part);
    Connect();
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("part.bin", folder.File("part.bin"), false); }),
        "Connection closed.");
    EXPECT_EQ(client.FileSize("part.bin"), 3000);
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_P(Retrieval, StopDuringTheTransferAbortsIt)
{
    const std::string content = Binary(200 * 1024);
    server.addFile("slow.bin", content);
    DataPlan plan;
    plan.chunkSize = 4096;
    plan.chunkDelay = 20ms;
    server.setDataPlan("slow.bin", plan);
    Connect();
    // The stop command runs inside the client's own waits.
    client.OnWork = [&](TWorkMode, std::int64_t count) {
        if (count >= 8192)
            client.AbortTransfer();
    };
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("slow.bin", folder.File("slow.bin"), false); }),
        "Operation aborted");
    EXPECT_TRUE(folder.Entries().empty());
    const auto after = CommandsAfterLogin();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after[2], "ABOR");
    // Both replies to the abort were taken in: the next command gets its own.
    client.OnWork = nullptr;
    EXPECT_EQ(client.FileSize("slow.bin"), static_cast<std::int64_t>(content.size()));
}

TEST_P(Retrieval, DisconnectDuringTheTransferEndsIt)
{
    server.addFile("slow.bin", Binary(200 * 1024));
    DataPlan plan;
    plan.chunkSize = 4096;
    plan.chunkDelay = 20ms;
    server.setDataPlan("slow.bin", plan);
    Connect();
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    client.OnWork = [&](TWorkMode, std::int64_t count) {
        if (count >= 8192)
            client.Disconnect();
    };
    EXPECT_EQ(
        ErrorOf([&] { client.RetrieveFile("slow.bin", folder.File("slow.bin"), false); }), "Not Connected");
    EXPECT_EQ(disconnected, 1);
    EXPECT_TRUE(folder.Entries().empty());
}

TEST_P(Retrieval, DataThatStopsComingTimesOut)
{
    server.addFile("a.bin", "partial");
    DataPlan plan;
    plan.stallAfterSending = true;
    server.setDataPlan("a.bin", plan);
    auto limits = ShortLimits();
    limits.DataIdleTimeout = 300ms;
    client.SetLimits(limits);
    Connect();
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.bin", folder.File("a.bin"), false); }), "Read Timeout");
    EXPECT_TRUE(folder.Entries().empty());
    // The server's late answer to the broken transfer does not reach the next command.
    EXPECT_EQ(client.FileSize("a.bin"), 7);
}

TEST_P(Retrieval, RetrievesIntoAStream)
{
    server.addFile("a.txt", "line one\r\nline two\r\n");
    Connect();
    std::ostringstream out;
    client.RetrieveToStream("a.txt", out);
    EXPECT_EQ(out.str(), "line one\r\nline two\r\n");
}

TEST_P(Retrieval, ResumeProbesOnceAndContinuesAtTheEnd)
{
    server.addFile("a.txt", "0123456789");
    Connect();
    WriteFile(folder.File("a.txt"), "0123");
    client.RetrieveFile("a.txt", folder.File("a.txt"), false, true);
    EXPECT_EQ(ReadFile(folder.File("a.txt")), "0123456789");
    WriteFile(folder.File("b.txt"), "0123");
    server.addFile("b.txt", "0123456789");
    client.RetrieveFile("b.txt", folder.File("b.txt"), false, true);
    auto after = CommandsAfterLogin();
    after.erase(std::remove_if(after.begin(), after.end(),
                    [](const std::string& c) { return c.starts_with("PASV") || c.starts_with("PORT"); }),
        after.end());
    EXPECT_EQ(after, (Commands { "REST 1", "REST 0", "REST 4", "RETR a.txt", "REST 4", "RETR b.txt" }));
}

// ---- Overwrite rules ----

TEST_F(ClientTest, ExistingTargetWithoutOverwriteFailsBeforeAnythingIsSent)
{
    TempFolder folder;
    server.addFile("a.txt", "new");
    WriteFile(folder.File("a.txt"), "old");
    Connect();
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.txt", folder.File("a.txt"), false); }),
        "Destination file already exists.");
    EXPECT_EQ(ReadFile(folder.File("a.txt")), "old");
    EXPECT_TRUE(CommandsAfterLogin().empty());
}

TEST_F(ClientTest, OverwriteReplacesOnlyAfterASuccessfulTransfer)
{
    TempFolder folder;
    server.addFile("a.txt", "new content");
    WriteFile(folder.File("a.txt"), "old");
    WriteFile(folder.File("b.txt"), "old b");
    server.addFile("b.txt", "never");
    DataPlan failing;
    failing.final = "451 Disk trouble.\r\n";
    server.setDataPlan("b.txt", failing);
    Connect();
    client.RetrieveFile("a.txt", folder.File("a.txt"), true);
    EXPECT_EQ(ReadFile(folder.File("a.txt")), "new content");
    EXPECT_THROW(client.RetrieveFile("b.txt", folder.File("b.txt"), true), EFtpReplyError);
    EXPECT_EQ(ReadFile(folder.File("b.txt")), "old b");
    EXPECT_THAT(folder.Entries(), ElementsAre("a.txt", "b.txt"));
}

TEST_F(ClientTest, TargetAppearingDuringTheDownloadIsNotOverwritten)
{
    TempFolder folder;
    server.addFile("a.txt", "downloaded");
    Connect();
    client.OnWorkBegin = [&](TWorkMode, std::int64_t) { WriteFile(folder.File("a.txt"), "someone else's"); };
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.txt", folder.File("a.txt"), false); }),
        "Destination file already exists.");
    EXPECT_EQ(ReadFile(folder.File("a.txt")), "someone else's");
    EXPECT_THAT(folder.Entries(), ElementsAre("a.txt"));
}

TEST_F(ClientTest, UncreatableFileNamesTheTarget)
{
    TempFolder folder;
    Connect();
    const std::string target = folder.File("no-such-folder/a.txt");
    EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("a.txt", target, false); }),
        "Cannot create file \"" + target + "\". No such file or directory");
    EXPECT_TRUE(CommandsAfterLogin().empty());
}

// ---- Data connections ----

TEST_F(ClientTest, PassiveConnectsToTheControlPeerNotTheAnnouncedAddress)
{
    server.addFile("a.txt", "safe");
    server.setPassiveAddress("192,0,2,1"); // a documentation address nobody answers on
    client.SetPassive(true);
    Connect();
    std::ostringstream out;
    client.RetrieveToStream("a.txt", out);
    EXPECT_EQ(out.str(), "safe");
}

TEST_F(ClientTest, ActiveModeTurnsAwayConnectionsFromOtherHosts)
{
    int announcedPort = 0;
    server.on("PORT", [&](test::FtpSession& s, const std::string& argument) {
        int n[6] = {};
        std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5]);
        announcedPort = n[4] * 256 + n[5];
        s.setActiveAddress("127.0.0.1", announcedPort);
        s.send("200 PORT command successful.\r\n");
    });
    int stranger = -1;
    server.on("RETR", [&](test::FtpSession& s, const std::string& name) {
        // Someone else (127.0.0.2) is quicker than the server.
        stranger = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in from {};
        from.sin_family = AF_INET;
        ::inet_pton(AF_INET, "127.0.0.2", &from.sin_addr);
        ::bind(stranger, reinterpret_cast<sockaddr*>(&from), sizeof from);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(announcedPort));
        ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        if (::connect(stranger, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
            ::send(stranger, "forged", 6, MSG_NOSIGNAL);
        s.runTransfer(DataPlan {}, "genuine", true, name);
    });
    Connect();
    std::ostringstream out;
    client.RetrieveToStream("a.txt", out);
    EXPECT_EQ(out.str(), "genuine");
    ::close(stranger);
}

TEST_F(ClientTest, PretPrecedesPasvWhenTheServerListsIt)
{
    server.setFeatures("211-Features:\r\n PRET\r\n SIZE\r\n211 End\r\n");
    server.addFile("a.txt", "x");
    client.SetPassive(true);
    Connect();
    std::ostringstream out;
    client.RetrieveToStream("a.txt", out);
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "PRET RETR a.txt", "PASV", "RETR a.txt" }));
}

TEST_F(ClientTest, RefusedPassiveDataConnection)
{
    server.addFile("a.txt", "x");
    server.setPassivePortOverride(ClosedLoopbackPort());
    client.SetPassive(true);
    Connect();
    std::ostringstream out;
    EXPECT_EQ(
        ErrorOf([&] { client.RetrieveToStream("a.txt", out); }), "Socket Error # 111\r\nConnection refused");
    // No reply was left unread.
    EXPECT_EQ(client.FileSize("a.txt"), 1);
}

TEST_F(ClientTest, RefusedPasvAndBadPasvNumbers)
{
    server.replySequence(
        "PASV", { "500 No passive here.\r\n", "227 Entering Passive Mode (127,0,0,1,x,1).\r\n" });
    client.SetPassive(true);
    Connect();
    std::ostringstream out;
    EXPECT_EQ(ErrorOf([&] { client.RetrieveToStream("a.txt", out); }), "No passive here.");
    EXPECT_EQ(ErrorOf([&] { client.RetrieveToStream("a.txt", out); }), "'x' is not a valid integer value");
}

TEST_F(ClientTest, ServerThatNeverConnectsInActiveMode)
{
    server.addFile("a.txt", "x");
    DataPlan plan;
    plan.neverConnect = true;
    server.setDataPlan("a.txt", plan);
    auto limits = ShortLimits();
    limits.AcceptTimeout = 300ms;
    client.SetLimits(limits);
    Connect();
    std::ostringstream out;
    EXPECT_EQ(ErrorOf([&] { client.RetrieveToStream("a.txt", out); }), "Connect timed out.");
}

TEST_F(ClientTest, StopWhileActiveModeWaitsForTheServer)
{
    server.addFile("a.txt", "abc");
    DataPlan plan;
    plan.neverConnect = true;
    server.setDataPlan("a.txt", plan);
    Connect();
    int pumps = 0;
    pump = [&] {
        if (++pumps == 5)
            client.AbortTransfer();
    };
    std::ostringstream out;
    EXPECT_EQ(ErrorOf([&] { client.RetrieveToStream("a.txt", out); }), "Operation aborted");
    pump = nullptr;
    EXPECT_EQ(client.FileSize("a.txt"), 3);
}

TEST_F(ClientTest, AbortWithoutTransferKeepsRepliesInStep)
{
    server.addFile("a.txt", "abc");
    Connect();
    client.AbortTransfer();
    EXPECT_EQ(client.FileSize("a.txt"), 3);
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "ABOR", "SIZE a.txt" }));
}

} // namespace
} // namespace taskhaul::ftp::testing
