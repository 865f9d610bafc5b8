// Connects that never get as far as SSH: refused, silent, stopped.

#include "ftp/loopback.h"
#include "sftp/sftp_client.h"

#include <gtest/gtest.h>

namespace taskhaul::sftp {
namespace {

void Aim(TSftpClient& client, int port)
{
    client.Settings().Host = "127.0.0.1";
    client.Settings().Port = port;
    client.Settings().AgentSocket = "";
}

TEST(SftpConnect, RefusedIsAConnectionFailure)
{
    TSftpClient client;
    Aim(client, test::ClosedLoopbackPort());
    EXPECT_THROW(client.Connect(), ESftpConnectionError);
    EXPECT_FALSE(client.IsConnected());
}

TEST(SftpConnect, ServerThatNeverSpeaksTimesOut)
{
    test::SilentListener silent;
    int pumps = 0;
    TSftpClient client([&] { ++pumps; });
    Aim(client, silent.port());
    TSftpLimits limits;
    limits.ConnectTimeout = std::chrono::milliseconds(300);
    client.SetLimits(limits);
    try {
        client.Connect();
        FAIL() << "connected to a silent listener";
    } catch (const ESftpTimeout& e) {
        EXPECT_STREQ(e.what(), "Connect timed out.");
    }
    EXPECT_GT(pumps, 0);
    EXPECT_FALSE(client.IsConnected());
}

TEST(SftpConnect, StopFromThePumpEndsTheHandshakeWait)
{
    test::SilentListener silent;
    TSftpClient* self = nullptr;
    bool busySeen = false;
    TSftpClient client([&] {
        // Anything but the allowed calls is refused while Connect waits.
        try {
            self->Stat("/");
        } catch (const ESftpBusy&) {
            busySeen = true;
        }
        self->Stop();
    });
    self = &client;
    Aim(client, silent.port());
    EXPECT_THROW(client.Connect(), ESftpAborted);
    EXPECT_TRUE(busySeen);
    EXPECT_FALSE(client.IsBusy());
    EXPECT_THROW(client.ListFolder("/"), ESftpNotConnected);
}

TEST(SftpConnect, DisconnectFromThePumpEndsTheWaitAsNotConnected)
{
    test::SilentListener silent;
    TSftpClient* self = nullptr;
    TSftpClient client([&] { self->Disconnect(); });
    self = &client;
    Aim(client, silent.port());
    EXPECT_THROW(client.Connect(), ESftpNotConnected);
}

} // namespace
} // namespace taskhaul::sftp
