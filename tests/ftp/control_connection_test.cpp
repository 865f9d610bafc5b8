// The control connection: reply grammar, connection states, errors and pumping.

#include "client_fixture.h"

#include "ftp/ftp_reply.h"
#include "ftp/loopback.h"

#include <gmock/gmock.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace taskhaul::ftp::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct GreetingCase {
    const char* name;
    std::string raw;
    std::string code; // expected ReplyCode (when no error)
    std::vector<std::string> text; // expected ReplyText
    std::string error; // expected message of Connect, if it fails
};

class ReplyGrammar : public ::testing::TestWithParam<GreetingCase> { };

// Replies are read as greetings, without login, so each case is one reply.
TEST_P(ReplyGrammar, ReadsOneReply)
{
    const auto& c = GetParam();
    test::ScriptedFtpServer server;
    server.setGreeting(c.raw);
    TFtpClient client;
    AimAt(client, server);
    client.SetAutoLogin(false);
    const std::string error = ErrorOf([&] { client.Connect(); });
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
        EXPECT_EQ(client.Greeting().ReplyCode, c.code);
        EXPECT_EQ(client.Greeting().ReplyText, c.text);
    } else {
        EXPECT_FALSE(client.IsConnected());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplyGrammar,
    ::testing::Values(GreetingCase { "OneLine", "220 Ready.\r\n", "220", { "Ready." }, "" },
        GreetingCase {
            "TwoLinesSameCode", "220-Welcome\r\n220 Ready\r\n", "220", { "Welcome", "Ready" }, "" },
        GreetingCase { "BareLineFeeds", "220-a\n220 b\n", "220", { "a", "b" }, "" },
        GreetingCase { "EmptyLinesBeforeReplySkipped", "\r\n  \r\n220 Ready\r\n", "220", { "Ready" }, "" },
        GreetingCase { "ContinuationWithoutCodeLosesLeadingBlanks",
            "220-First\r\n   indented text\r\n220 Last\r\n", "220", { "First", "indented text", "Last" },
            "" },
        GreetingCase { "OtherCodeWithBlankEndsReply", "220-First\r\n230 ends it\r\n", "220",
            { "First", "230 ends it" }, "" },
        GreetingCase { "OtherCodeWithDashContinues", "220-First\r\n230-goes on\r\n220 End\r\n", "220",
            { "First", "230-goes on", "End" }, "" },
        GreetingCase { "CodeAloneIsAReply", "220\r\n", "220", { "" }, "" },
        GreetingCase { "TrailingBlanksOfFirstLineTrimmed", "220 Ready   \r\n", "220", { "Ready" }, "" },
        GreetingCase { "NotANumber", "hello world\r\n220 x\r\n", "", {}, "Reply Code is not valid: hell" },
        GreetingCase { "BelowHundred", "099 odd\r\n", "", {}, "Reply Code is not valid: 099" },
        GreetingCase { "RefusedGreeting", "421 Too many users.\r\n", "", {}, "Too many users." },
        GreetingCase { "RefusedMultiLine", "421-Busy\r\n421 Try later\r\n", "", {}, "Busy\nTry later" },
        GreetingCase { "RefusedWithStrayBreaks", "421-Busy\r\r\n421 \r\r\n", "", {}, "Busy" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyGrammarLines, EndLineRule)
{
    struct Case {
        std::string line;
        bool end;
    };
    const std::vector<Case> cases {
        { "220", true },
        { "22", true },
        { "220 x", true },
        { "220-x", false },
        { "220x", false },
        { "abc", false },
        { "abc d", false },
        { "", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(reply::IsEndLine(c.line), c.end) << '"' << c.line << '"';
}

TEST_F(ClientTest, LineLongerThanTheLimitFails)
{
    server.setGreeting("220 " + std::string(reply::kMaxLineLength + 10, 'x') + "\r\n");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Max line length exceeded.");
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ClientTest, EndlessReplyIsRefused)
{
    std::string many = "220-start\r\n";
    for (int i = 0; i < 10001; ++i)
        many += " line\r\n";
    server.setGreeting(many + "220 end\r\n");
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Reply too long.");
}

TEST_F(ClientTest, SilentServerTimesOutAndDisconnects)
{
    auto limits = ShortLimits();
    limits.ReplyTimeout = 300ms;
    client.SetLimits(limits);
    server.silence("CWD");
    Connect();
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("pub"); }), "Read Timeout");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
}

TEST_F(ClientTest, ServerClosingDuringReadIsReported)
{
    server.closeOn("CWD");
    Connect();
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("pub"); }), "Connection Closed Gracefully.");
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("pub"); }), "Not Connected");
    client.Disconnect();
    EXPECT_EQ(disconnected, 0);
}

// ---- Login and the steps after it ----

TEST_F(ClientTest, LoginSendsTheDirectSequence)
{
    Connect();
    EXPECT_EQ(server.commands(), LoginCommands());
    EXPECT_EQ(client.SystemDescription(), "UNIX Type: L8");
    EXPECT_THAT(client.Capabilities(), ElementsAre("SIZE", "REST STREAM"));
    EXPECT_TRUE(client.IsFeatureSupported("REST"));
    EXPECT_FALSE(client.IsFeatureSupported("PRET"));
}

TEST_F(ClientTest, UserAcceptedWithoutPasswordSendsNoPass)
{
    server.reply("USER", "230 Welcome, no password needed.\r\n");
    Connect();
    EXPECT_EQ(server.commands(), (Commands { "USER alice", "FEAT", "TYPE I", "SYST" }));
}

TEST_F(ClientTest, PasswordRepliesOtherThan230FailTheConnect)
{
    for (const std::string raw :
        { "202 Superfluous.\r\n", "332 Need account.\r\n", "530 Login incorrect.\r\n" }) {
        test::ScriptedFtpServer refusing;
        refusing.reply("PASS", raw);
        TFtpClient fresh;
        AimAt(fresh, refusing);
        int disconnected = 0;
        fresh.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
        // The server's words, without the line break, are the reason the caller logs.
        const std::string text = raw.substr(4, raw.size() - 6);
        EXPECT_EQ(ErrorOf([&] { fresh.Connect(); }), text);
        EXPECT_FALSE(fresh.IsConnected());
        // The server still held the connection: the client closed it and said so.
        EXPECT_EQ(disconnected, 1) << raw;
        EXPECT_EQ(refusing.commands(), (Commands { "USER alice", "PASS wonder" })) << raw;
    }
    // A disconnected handler that fails does not hide why the connect failed.
    server.reply("PASS", "530 Login incorrect.\r\n");
    client.OnDisconnected = [](TFtpClient&) { throw std::runtime_error("handler failed"); };
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Login incorrect.");
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(ClientTest, RefusedFeatAndSystAreTolerated)
{
    server.reply("FEAT", "500 FEAT not understood.\r\n");
    server.reply("SYST", "500 SYST not understood.\r\n");
    Connect();
    EXPECT_THAT(client.Capabilities(), IsEmpty());
    EXPECT_EQ(client.SystemDescription(), "Unknown");
}

TEST(ZoneQuery, SentOnlyForServersThatKnowIt)
{
    struct Case {
        std::string greeting;
        std::string features;
        bool zone;
    };
    const std::string plainFeatures = "211-Features:\r\n SIZE\r\n211 End\r\n";
    const std::vector<Case> cases {
        { "220 Serv-U FTP Server v15 ready\r\n", plainFeatures, true },
        { "220 BPFTP Server ready\r\n", plainFeatures, true },
        { "220 TitanFTP server ready\r\n", plainFeatures, true },
        { "220 serv-u lower case\r\n", plainFeatures, false },
        { "220 Serv-Ux\r\n", plainFeatures, false },
        { "220 Other\r\n", "211-Features:\r\n site pswd;set; zone ;chmod\r\n211 End\r\n", true },
        { "220 Other\r\n", "211-Features:\r\n SITE PSWD;SET\r\n211 End\r\n", false },
        { "220 Other\r\n", "211-Features:\r\n SITEZONE\r\n211 End\r\n", false },
    };
    for (const auto& c : cases) {
        test::ScriptedFtpServer server;
        server.setGreeting(c.greeting);
        server.setFeatures(c.features);
        TFtpClient client;
        AimAt(client, server);
        ASSERT_NO_THROW(client.Connect());
        const auto commands = server.commands();
        const bool sent = !commands.empty() && commands.back() == "SITE ZONE";
        EXPECT_EQ(sent, c.zone) << c.greeting << c.features;
    }
}

// ---- States and notifications ----

TEST_F(ClientTest, DisconnectNotifiesOnlyForAnOpenConnection)
{
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient& sender) {
        EXPECT_EQ(&sender, &client);
        ++disconnected;
    };
    client.Disconnect(); // never connected
    EXPECT_EQ(disconnected, 0);

    Connect();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Already connected.");
    client.Disconnect();
    EXPECT_EQ(disconnected, 1);
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_EQ(disconnected, 1);
    // Disconnecting sends nothing.
    EXPECT_EQ(server.commands(), LoginCommands());
}

TEST_F(ClientTest, ConnectionClosedByTheServerIsNoticedQuietly)
{
    server.on("NOOP", [](test::FtpSession& s, const std::string&) {
        s.send("200 Bye.\r\n");
        s.close();
    });
    Connect();
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    client.SendCommand("NOOP");
    ASSERT_TRUE(server.waitForSessionEnd());
    EXPECT_FALSE(client.IsConnected());
    client.Disconnect();
    EXPECT_EQ(disconnected, 0);
    // Reconnecting replaces what the last connection learnt.
    server.reply("SYST", "215 Windows_NT\r\n");
    Connect();
    EXPECT_EQ(client.SystemDescription(), "Windows_NT");
}

TEST_F(ClientTest, NotConnectedMessagesDependOnHistory)
{
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("x"); }), "Not connected.");
    EXPECT_EQ(ErrorOf([&] { client.FileSize("x"); }), "Not connected.");
    Connect();
    client.Disconnect();
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("x"); }), "Not Connected");
}

TEST(ConnectFailure, RefusedConnectionIsASocketErrorWithoutNotification)
{
    const int port = ClosedLoopbackPort();
    TFtpClient client;
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Socket Error # 111\r\nConnection refused");
    EXPECT_EQ(disconnected, 0);
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("x"); }), "Not connected.");
}

TEST(ConnectFailure, ConnectThatNeverCompletesTimesOut)
{
    // A listener whose accept queue is full drops further connection attempts.
    SilentListener listener(0);
    listener.fillBacklog();

    int pumps = 0;
    TFtpClient client([&] { ++pumps; });
    client.SetHost("127.0.0.1");
    client.SetPort(listener.port());
    auto limits = ShortLimits();
    limits.ConnectTimeout = 300ms;
    client.SetLimits(limits);
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Connect timed out.");
    EXPECT_GE(pumps, 4);
    EXPECT_EQ(disconnected, 0);
}

TEST(ConnectFailure, TcpConnectCanBeStopped)
{
    // A listener whose accept queue is full: the connect never completes by itself.
    SilentListener listener(0);
    listener.fillBacklog();

    for (const bool disconnect : { false, true }) {
        SCOPED_TRACE(disconnect ? "Disconnect" : "AbortTransfer");
        int pumps = 0;
        TFtpClient* self = nullptr;
        TFtpClient client([&] {
            if (++pumps == 2)
                disconnect ? self->Disconnect() : self->AbortTransfer();
        });
        self = &client;
        client.SetHost("127.0.0.1");
        client.SetPort(listener.port());
        client.SetLimits(ShortLimits()); // 3 s connect limit
        int disconnected = 0;
        client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ErrorOf([&] { client.Connect(); }), disconnect ? "Not connected." : "Operation aborted");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        // No socket had been opened: nothing to announce.
        EXPECT_EQ(disconnected, 0);
        EXPECT_FALSE(client.IsConnected());
    }
}

TEST(ConnectFailure, UnknownHostIsASocketError)
{
    TFtpClient client;
    client.SetHost("no-such-host.invalid");
    client.SetLimits(ShortLimits());
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    // The resolver's own text follows (it depends on the machine's network).
    EXPECT_THAT(ErrorOf([&] { client.Connect(); }), ::testing::StartsWith("Socket Error # "));
    EXPECT_EQ(disconnected, 0);
}

// A server that accepts and never greets: Stop or Disconnect pressed while the
// client waits must end the Connect at once.
TEST_F(ClientTest, ConnectWaitingForTheGreetingCanBeStopped)
{
    struct Case {
        const char* what;
        bool disconnect;
        std::string error;
    };
    const std::vector<Case> cases {
        { "AbortTransfer", false, "Operation aborted" },
        { "Disconnect", true, "Not Connected" },
    };
    server.setGreeting("");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int disconnected = 0;
        client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
        int pumps = 0;
        pump = [&] {
            if (++pumps == 3) {
                if (c.disconnect)
                    client.Disconnect();
                else
                    client.AbortTransfer();
            }
        };
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ErrorOf([&] { client.Connect(); }), c.error);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        EXPECT_FALSE(client.IsConnected());
        // The socket had been opened: the client closed it and said so once.
        EXPECT_EQ(disconnected, 1);
        EXPECT_TRUE(server.waitForSessionEnd());
    }
    EXPECT_THROW(
        {
            pump = [&] { client.AbortTransfer(); };
            client.Connect();
        },
        EOperationAborted);
    // Nothing of the stopped attempts sticks: the next Connect logs in.
    pump = nullptr;
    server.setGreeting("220 Ready.\r\n");
    Connect();
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(ClientTest, LoginWaitingForAReplyCanBeStopped)
{
    server.silence("PASS");
    // Stop is pressed once the password has gone out and its reply is awaited.
    pump = [&] {
        if (server.commands().size() == 2)
            client.AbortTransfer();
    };
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.Connect(), EOperationAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
    // Nothing was sent after the stop (no ABOR during a login).
    ASSERT_TRUE(server.waitForSessionEnd());
    EXPECT_EQ(server.commands(), (Commands { "USER alice", "PASS wonder" }));
}

TEST_F(ClientTest, HostNamesAreResolved)
{
    client.SetHost("localhost");
    Connect();
    EXPECT_TRUE(client.IsConnected());
}

// ---- Commands ----

TEST_F(ClientTest, ChangeDirectorySendsTheFolderUnchanged)
{
    server.replySequence("CWD", { "250 OK.\r\n", "200 OK.\r\n", "550 No such folder.\r\n" });
    Connect();
    client.ChangeDirectory("/pub/my folder");
    client.ChangeDirectory("\"quoted\"");
    try {
        client.ChangeDirectory("missing");
        FAIL() << "no error";
    } catch (const EFtpReplyError& error) {
        EXPECT_EQ(error.ReplyCode(), 550);
        EXPECT_STREQ(error.what(), "No such folder.");
    }
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "CWD /pub/my folder", "CWD \"quoted\"", "CWD missing" }));
}

TEST_F(ClientTest, LineBreaksInCommandTextsAreRefusedBeforeSending)
{
    Connect();
    for (const std::string& bad :
        { std::string("a\r\nDELE b"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3) }) {
        EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory(bad); }), "Invalid character in command.");
        EXPECT_EQ(ErrorOf([&] { client.FileSize(bad); }), "Invalid character in command.");
    }
    client.SetUsername("alice\r\nDELE x");
    client.Disconnect();
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Invalid character in command.");
    EXPECT_EQ(server.commands(), LoginCommands());
}

// ---- Pumping ----

TEST_F(ClientTest, OperationsStartedFromInsideThePumpAreRefused)
{
    server.silence("CWD");
    Connect();
    EXPECT_FALSE(client.IsBusy());
    TempFolder folder;
    std::ostringstream out;
    std::vector<std::string> lines;
    const std::vector<std::pair<const char*, std::function<void()>>> operations {
        { "Connect", [&] { client.Connect(); } },
        { "SendCommand", [&] { client.SendCommand("NOOP"); } },
        { "ReadReply", [&] { client.ReadReply(); } },
        { "WriteCommandLine", [&] { client.WriteCommandLine("NOOP"); } },
        { "ChangeDirectory", [&] { client.ChangeDirectory("other"); } },
        { "FileSize", [&] { client.FileSize("a.txt"); } },
        { "RetrieveFile", [&] { client.RetrieveFile("a.txt", folder.File("a.txt"), true); } },
        { "RetrieveToStream", [&] { client.RetrieveToStream("a.txt", out); } },
        { "ListFolder", [&] { client.ListFolder(lines); } },
        { "SetTransferType", [&] { client.SetTransferType(TFtpTransferType::ftASCII); } },
    };
    bool inside = false;
    bool busyInside = false;
    bool connectedInside = false;
    pump = [&] {
        if (inside)
            return;
        inside = true;
        busyInside = client.IsBusy();
        connectedInside = client.IsConnected();
        for (const auto& [name, operation] : operations)
            EXPECT_EQ(ErrorOf(operation), "Another FTP operation is in progress.") << name;
        // Disconnect is allowed and ends the waiting operation.
        client.Disconnect();
    };
    EXPECT_EQ(ErrorOf([&] { client.ChangeDirectory("pub"); }), "Not Connected");
    EXPECT_TRUE(busyInside);
    EXPECT_TRUE(connectedInside);
    EXPECT_FALSE(client.IsBusy());
    EXPECT_EQ(client.TransferType(), TFtpTransferType::ftBinary);
    ASSERT_TRUE(server.waitForSessionEnd());
    EXPECT_EQ(CommandsAfterLogin(), (Commands { "CWD pub" }));
    EXPECT_TRUE(folder.Entries().empty());

    // Nothing sticks: the next operation runs.
    pump = nullptr;
    Connect();
    EXPECT_EQ(client.FileSize("missing"), -1);
}

TEST_F(ClientTest, WaitsCallThePumpAtLeastEvery50Milliseconds)
{
    server.setGreetingDelay(600ms);
    std::vector<std::chrono::steady_clock::time_point> calls;
    pump = [&] { calls.push_back(std::chrono::steady_clock::now()); };
    const auto start = std::chrono::steady_clock::now();
    Connect();
    // 600 ms of waiting in 50 ms steps: about 12 calls, fewer on a loaded machine.
    ASSERT_GE(calls.size(), 6u);
    auto previous = start;
    std::chrono::steady_clock::duration longest {};
    for (const auto& call : calls) {
        longest = std::max(longest, call - previous);
        previous = call;
    }
    // 50 ms waits; the margin absorbs a loaded machine's scheduling, and is still
    // far below the 600 ms a wait without pumping would show.
    EXPECT_LT(longest, 250ms);
}

} // namespace
} // namespace taskhaul::ftp::testing
