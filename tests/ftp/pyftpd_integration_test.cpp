// The client against a real server (pyftpdlib on loopback).

#include "client_fixture.h"

#include "ftp/pyftpd_server.h"

#include <gmock/gmock.h>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

class RealServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::PyFtpdServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        client.SetHost(server->host());
        client.SetPort(server->port());
        client.SetUsername(server->user());
        client.SetPassword(server->password());
        client.SetLimits(ShortLimits());
    }

    static test::PyFtpdServer* server;
    TFtpClient client;
    TempFolder folder;
};

test::PyFtpdServer* RealServer::server = nullptr;

TEST_F(RealServer, LogsInAndChangesFolder)
{
    server->makeFolder("pub/reports");
    ASSERT_NO_THROW(client.Connect());
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.Greeting().NumericCode, 220);
    EXPECT_EQ(client.SystemDescription(), "UNIX Type: L8");
    EXPECT_TRUE(client.IsFeatureSupported("SIZE"));
    EXPECT_NO_THROW(client.ChangeDirectory("pub/reports"));
    try {
        client.ChangeDirectory("missing");
        FAIL() << "no error";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.ReplyCode(), 550);
    }
    EXPECT_TRUE(client.IsConnected());
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    client.Disconnect();
    EXPECT_EQ(disconnected, 1);
}

TEST_F(RealServer, AnonymousAndWrongPassword)
{
    client.SetUsername("anonymous");
    client.SetPassword("guest@example.com");
    EXPECT_NO_THROW(client.Connect());
    client.Disconnect();

    TFtpClient wrong;
    wrong.SetHost(server->host());
    wrong.SetPort(server->port());
    wrong.SetUsername(server->user());
    wrong.SetPassword("not it");
    int disconnected = 0;
    wrong.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    try {
        wrong.Connect();
        FAIL() << "no error";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.ReplyCode(), 530);
        // The server's words, as the activity log will show them.
        EXPECT_STREQ(error.what(), "Authentication failed.");
    }
    EXPECT_FALSE(wrong.IsConnected());
    EXPECT_EQ(disconnected, 1);
}

class RealServerModes : public RealServer, public ::testing::WithParamInterface<bool> { };

INSTANTIATE_TEST_SUITE_P(Modes, RealServerModes, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(RealServerModes, RetrievesListsAndSizes)
{
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + (i >> 12));
    server->writeFile("modes/data.bin", content);
    server->writeFile("modes/notes.txt", "one\r\ntwo\r\n");
    server->makeFolder("modes/sub");
    client.SetPassive(GetParam());
    ASSERT_NO_THROW(client.Connect());
    client.ChangeDirectory("modes");

    std::vector<std::string> lines;
    client.ListFolder(lines);
    EXPECT_EQ(lines.size(), 3u);
    std::vector<std::string> files;
    for (const auto& item : client.ParsedListing())
        if (item.ItemType == ItemType::File)
            files.push_back(item.FileName);
    std::sort(files.begin(), files.end());
    EXPECT_THAT(files, ElementsAre("data.bin", "notes.txt"));

    EXPECT_EQ(client.FileSize("data.bin"), static_cast<std::int64_t>(content.size()));
    EXPECT_EQ(client.FileSize("nothing.here"), -1);
    client.RetrieveFile("data.bin", folder.File("data.bin"), false);
    EXPECT_TRUE(ReadFile(folder.File("data.bin")) == content);
    client.RetrieveFile("notes.txt", folder.File("notes.txt"), false);
    EXPECT_EQ(ReadFile(folder.File("notes.txt")), "one\r\ntwo\r\n");
    EXPECT_THROW(client.RetrieveFile("nothing.here", folder.File("nothing.here"), false), EFtpReplyError);
    EXPECT_THAT(folder.Entries(), ElementsAre("data.bin", "notes.txt"));
}

TEST_P(RealServerModes, StopDuringADownload)
{
    server->writeFile("stop/big.bin", std::string(64 * 1024 * 1024, 'x'));
    client.SetPassive(GetParam());
    ASSERT_NO_THROW(client.Connect());
    client.ChangeDirectory("stop");
    client.OnWork = [&](TWorkMode, std::int64_t count) {
        if (count >= 1024 * 1024)
            client.AbortTransfer();
    };
    EXPECT_EQ(
        ErrorOf([&] { client.RetrieveFile("big.bin", folder.File("big.bin"), false); }), "Operation aborted");
    EXPECT_TRUE(folder.Entries().empty());
    client.OnWork = nullptr;
    EXPECT_EQ(client.FileSize("big.bin"), 64 * 1024 * 1024);
    EXPECT_TRUE(client.IsConnected());
}

} // namespace
} // namespace taskhaul::ftp::testing
