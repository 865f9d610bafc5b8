// Sign-in with a password, and the faults a real server does not produce,
// from a scripted SFTP server.

#include "sftp/sftp_client.h"
#include "sftp/sshd_server.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul::sftp {
namespace {

using namespace std::chrono_literals;

void Aim(TSftpClient& client, const test::ScriptedSftpServer& server, const std::string& password)
{
    TSftpSettings& settings = client.Settings();
    settings.Host = "127.0.0.1";
    settings.Port = server.Port();
    settings.Username = "user";
    settings.Password = password;
    settings.AgentSocket = "";
    settings.KnownHostsPath = server.Root() + "/../no_known_hosts";
    settings.TrustedHostKey = server.HostKeyFingerprint();
}

TEST(SftpScriptedServer, SignsInWithThePassword)
{
    const struct {
        const char* auth;
        TSftpAuthMethod expected;
    } cases[] = {
        { "password", TSftpAuthMethod::Password },
        { "keyboard-interactive", TSftpAuthMethod::KeyboardInteractive },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.auth);
        test::ScriptedSftpServer server(c.auth, "s3cret");
        TSftpClient client;
        Aim(client, server, "s3cret");
        client.Connect();
        EXPECT_EQ(client.AuthenticatedBy(), c.expected);
        EXPECT_EQ(client.HostKey().Verdict, TSftpHostKey::Status::Trusted);

        Aim(client, server, "wrong");
        try {
            client.Connect();
            ADD_FAILURE() << "signed in with a wrong password";
        } catch (const ESftpAuthError& e) {
            EXPECT_EQ(std::string(e.what()),
                "Authentication failed for user \"user\" (tried: " + std::string(c.auth) + ").");
        }
    }
}

class SftpFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::WriteFile(server_.Root() + "/denied.bin", "secret");
        test::WriteFile(server_.Root() + "/drop.bin", std::string(1 << 20, 'd'));
        test::WriteFile(server_.Root() + "/stall.bin", std::string(1 << 20, 's'));
        ::mkdir((server_.Root() + "/stall").c_str(), 0755);
        local_ = server_.Root() + "/../local";
        ::mkdir(local_.c_str(), 0755);
        Aim(client_, server_, "pw");
        TSftpLimits limits;
        limits.ReplyTimeout = 300ms;
        limits.DataIdleTimeout = 300ms;
        client_.SetLimits(limits);
        client_.Connect();
    }

    test::ScriptedSftpServer server_ { "password", "pw" };
    TSftpClient client_;
    std::string local_;
};

TEST_F(SftpFaults, RefusedFileIsAFileFailureOnALiveConnection)
{
    try {
        client_.Download("/denied.bin", local_ + "/denied.bin");
        FAIL() << "downloaded a refused file";
    } catch (const ESftpFileError& e) {
        EXPECT_STREQ(e.what(), "Cannot download \"/denied.bin\": Permission denied.");
    }
    EXPECT_TRUE(test::FolderNames(local_).empty());
    EXPECT_TRUE(client_.IsConnected());
    EXPECT_EQ(client_.Stat("/denied.bin").Size, 6);
}

TEST_F(SftpFaults, BrokenOrStalledDownloadsEndAsConnectionFailures)
{
    const struct {
        const char* file;
        bool timeout;
    } cases[] = { { "/drop.bin", false }, { "/stall.bin", true } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (!client_.IsConnected())
            client_.Connect();
        try {
            client_.Download(c.file, local_ + c.file);
            ADD_FAILURE() << "the download succeeded";
        } catch (const ESftpTimeout& e) {
            EXPECT_TRUE(c.timeout) << e.what();
            EXPECT_STREQ(e.what(), "Read Timeout");
        } catch (const ESftpConnectionError& e) {
            EXPECT_FALSE(c.timeout) << e.what();
        }
        EXPECT_FALSE(client_.IsConnected());
        EXPECT_TRUE(test::FolderNames(local_).empty()) << "a temporary was left behind";
    }
}

TEST_F(SftpFaults, ListingThatNeverComesTimesOut)
{
    EXPECT_THROW(client_.ListFolder("/stall"), ESftpTimeout);
    EXPECT_FALSE(client_.IsConnected());
}

// Stop ends a listing or a download the server never answers within a second,
// long before any limit would.
TEST(SftpScriptedServer, StopEndsAStalledListingOrDownloadWithinASecond)
{
    test::ScriptedSftpServer server("password", "pw");
    test::WriteFile(server.Root() + "/stall.bin", std::string(1 << 20, 's'));
    ::mkdir((server.Root() + "/stall").c_str(), 0755);
    const std::string local = server.Root() + "/../local";
    ::mkdir(local.c_str(), 0755);
    const std::vector<std::pair<const char*, std::function<void(TSftpClient&)>>> cases {
        { "listing", [](TSftpClient& client) { client.ListFolder("/stall"); } },
        { "download",
            [&local](TSftpClient& client) { client.Download("/stall.bin", local + "/stall.bin"); } },
    };
    for (const auto& [what, operation] : cases) {
        SCOPED_TRACE(what);
        std::chrono::steady_clock::time_point stopAt {};
        std::chrono::steady_clock::time_point stopped {};
        TSftpClient* running = nullptr;
        TSftpClient client([&] {
            if (running && stopAt != std::chrono::steady_clock::time_point {}
                && std::chrono::steady_clock::now() >= stopAt
                && stopped == std::chrono::steady_clock::time_point {}) {
                stopped = std::chrono::steady_clock::now();
                running->Stop();
            }
        });
        Aim(client, server, "pw");
        client.Connect();
        running = &client;
        stopAt = std::chrono::steady_clock::now() + 300ms;
        EXPECT_THROW(operation(client), ESftpAborted);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(test::FolderNames(local).empty()) << "a temporary was left behind";
    }
}

} // namespace
} // namespace taskhaul::sftp
