// The client against a hostile server (the scripted one): connections cut,
// hung up on or left waiting at every stage from the key exchange to the
// middle of a file. Each must end at once, or within a second of Stop, and
// leave every descriptor as it was: none left open, and none closed or shut
// down that the client no longer owns.

#include "sftp/sftp_client.h"
#include "sftp/sshd_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace taskhaul::sftp {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kSignInClosed
    = "The server closed the connection during sign-in (too many authentication attempts?)";

void Aim(TSftpClient& client, const test::ScriptedSftpServer& server)
{
    TSftpSettings& settings = client.Settings();
    settings.Host = "127.0.0.1";
    settings.Port = server.Port();
    settings.Username = "user";
    settings.Password = "pw";
    settings.AgentSocket = "";
    settings.KnownHostsPath = server.Root() + "/../no_known_hosts";
    settings.TrustedHostKey = server.HostKeyFingerprint();
}

std::size_t OpenDescriptors()
{
    return test::FolderNames("/proc/self/fd").size();
}

// What a case does once connected: nothing more, list the root, fetch a file.
enum class Step { Connect, List, Fetch };

void Perform(TSftpClient& client, Step step, const std::string& local)
{
    client.Connect();
    if (step == Step::List)
        client.ListFolder("/");
    if (step == Step::Fetch)
        client.Download("/big.bin", local + "/big.bin");
}

// A server folder with enough names for a listing of several answers and a
// file of many reads.
void Fill(const test::ScriptedSftpServer& server)
{
    for (int i = 0; i < 300; ++i)
        test::WriteFile(server.Root() + "/f" + std::to_string(i), "x");
    test::WriteFile(server.Root() + "/big.bin", test::PatternBytes(1 << 20, 3));
}

TEST(SftpHostileServer, ACutOrAHangUpAtAnyStageEndsTheOperationAtOnce)
{
    const struct {
        const char* fault;
        Step step;
        std::string text; // what the error's text starts with
        const char* reason; // and what it names, when the server gave one
    } cases[] = {
        { "kex:cut", Step::Connect, "SSH connection failed: ", "" },
        { "kex:hangup", Step::Connect, "SSH connection failed: ", "" },
        { "auth:cut", Step::Connect, kSignInClosed, "" },
        { "auth:hangup", Step::Connect, kSignInClosed, "Too many authentication failures" },
        { "auth-try:cut", Step::Connect, kSignInClosed, "" },
        { "auth-try:hangup", Step::Connect, kSignInClosed, "Too many authentication failures" },
        { "channel:cut", Step::Connect, "Cannot start SFTP on the server: ", "" },
        { "sftp:cut", Step::Connect, "Cannot start SFTP on the server: ", "" },
        { "listing:cut", Step::List, "Connection lost", "" },
        { "file:hangup", Step::Fetch, "Connection lost", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        test::ScriptedSftpServer server("password", "pw", { c.fault });
        Fill(server);
        const std::string local = server.Root() + "/../local";
        ASSERT_EQ(::mkdir(local.c_str(), 0755), 0);
        const std::size_t descriptors = OpenDescriptors();
        {
            TSftpClient client;
            Aim(client, server);
            TSftpLimits limits;
            limits.ConnectTimeout = 20s;
            limits.ReplyTimeout = 20s;
            client.SetLimits(limits);
            const auto started = Clock::now();
            try {
                Perform(client, c.step, local);
                ADD_FAILURE() << "nothing failed";
            } catch (const ESftpConnectionError& e) {
                const std::string text = e.what();
                EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
                EXPECT_NE(text.find(c.reason), std::string::npos) << text;
            }
            EXPECT_LT(Clock::now() - started, 2s);
            EXPECT_FALSE(client.IsConnected());
        }
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_TRUE(test::FolderNames(local).empty()) << "a temporary was left behind";
    }
}

TEST(SftpHostileServer, StopEndsEveryStageTheServerStallsAtWithinASecond)
{
    const struct {
        const char* fault;
        Step step;
    } cases[] = {
        { "kex:stall", Step::Connect },
        { "auth:stall", Step::Connect },
        { "auth-try:stall", Step::Connect },
        { "channel:stall", Step::Connect },
        { "sftp:stall", Step::Connect },
        { "listing:stall", Step::List },
        { "file:stall", Step::Fetch },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        test::ScriptedSftpServer server("password", "pw", { c.fault });
        Fill(server);
        const std::string local = server.Root() + "/../local";
        ASSERT_EQ(::mkdir(local.c_str(), 0755), 0);
        const std::size_t descriptors = OpenDescriptors();
        {
            Clock::time_point stopAt = Clock::now() + 500ms;
            std::optional<Clock::time_point> stopped;
            TSftpClient* self = nullptr;
            TSftpClient client([&] {
                if (!stopped && Clock::now() >= stopAt) {
                    stopped = Clock::now();
                    self->Stop();
                }
            });
            self = &client;
            Aim(client, server);
            EXPECT_THROW(Perform(client, c.step, local), ESftpAborted);
            ASSERT_TRUE(stopped);
            EXPECT_LT(Clock::now() - *stopped, 1s);
            EXPECT_FALSE(client.IsConnected());
        }
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_TRUE(test::FolderNames(local).empty()) << "a temporary was left behind";
    }
}

// The library closes its socket itself when the server hangs up. The number
// is free from then on, and whatever the process opens next may get it (here:
// a socket pair the pump opens, as another connection's thread would): the
// client's Stop must not shut it down, nor its end close it.
TEST(SftpHostileServer, ANumberTheLibraryClosedIsNeitherShutDownNorClosedAgain)
{
    test::ScriptedSftpServer server("password", "pw", { "auth-try:hangup" });
    std::vector<std::array<int, 2>> pairs;
    const auto started = Clock::now();
    TSftpClient* self = nullptr;
    TSftpClient client([&] {
        if (pairs.size() < 4) {
            std::array<int, 2> pair {};
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair.data()), 0);
            pairs.push_back(pair);
        }
        if (Clock::now() - started > 300ms)
            self->Stop();
    });
    self = &client;
    Aim(client, server);
    TSftpLimits limits;
    limits.ConnectTimeout = 3s;
    limits.PumpInterval = 20ms;
    client.SetLimits(limits);
    EXPECT_THROW(client.Connect(), ESftpException);
    for (const auto& [a, b] : pairs) {
        char byte = 0;
        EXPECT_EQ(::send(a, "a", 1, MSG_NOSIGNAL), 1) << "descriptor " << a;
        EXPECT_EQ(::recv(b, &byte, 1, MSG_DONTWAIT), 1) << "descriptor " << b;
        EXPECT_EQ(::send(b, "b", 1, MSG_NOSIGNAL), 1) << "descriptor " << b;
        EXPECT_EQ(::recv(a, &byte, 1, MSG_DONTWAIT), 1) << "descriptor " << a;
        ::close(a);
        ::close(b);
    }
}

// Whether a thread of the test has been opening a file for a while (the
// worker, at a key file that is a named pipe nobody writes to yet): seen in an
// open at two calls in a row, as the pump calls it.
class WorkerOpeningAFile {
public:
    bool operator()()
    {
        bool opening = false;
        for (const std::string& thread : test::FolderNames("/proc/self/task")) {
            const std::string call = test::ReadFile("/proc/self/task/" + thread + "/syscall");
            opening = opening || call.rfind(std::to_string(SYS_openat) + " ", 0) == 0;
        }
        seen_ = opening ? seen_ + 1 : 0;
        return seen_ >= 2;
    }

private:
    int seen_ = 0;
};

// A server offering a key and a password, and a key file that is a named pipe:
// the worker's sign-in waits in the pipe's open until the test writes to it.
struct KeyInAPipe {
    KeyInAPipe()
    {
        test::RunProgram(
            { "/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", server.Folder() + "/key" });
        test::WriteFile(server.AuthorizedKeys(), test::ReadFile(server.Folder() + "/key.pub"));
        EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    }
    // Lets the worker's open of the pipe return, if it waits there (it then
    // reads an empty file).
    void Release() const
    {
        const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    }

    test::ScriptedSftpServer server { "publickey,password", "pw" };
    const std::string pipe = server.Folder() + "/pipe";
};

// A worker stuck where no shutdown reaches it (opening a key file, as a hung
// network file system would hold it) does not hold the caller: Stop ends the
// connect within a second, the pump running all the while, and the worker is
// left to finish on its own.
TEST(SftpClientStop, DoesNotWaitLongForAWorkerNoShutdownReaches)
{
    KeyInAPipe key;
    // Frees the worker at the latest after a while, so that a client that
    // waits for it fails the test instead of hanging it.
    std::atomic<bool> released { false };
    const auto release = [&] {
        if (!released.exchange(true))
            key.Release();
    };
    std::thread watchdog([&] {
        for (int i = 0; i < 100 && !released; ++i)
            std::this_thread::sleep_for(50ms);
        release();
    });

    int pumpsAfterStop = 0;
    std::optional<Clock::time_point> stopped;
    WorkerOpeningAFile opening;
    TSftpClient* self = nullptr;
    TSftpClient client([&] {
        if (stopped)
            ++pumpsAfterStop;
        else if (opening()) {
            stopped = Clock::now();
            self->Stop();
        }
    });
    self = &client;
    Aim(client, key.server);
    client.Settings().KeyFile = key.pipe;
    EXPECT_THROW(client.Connect(), ESftpAborted);
    ASSERT_TRUE(stopped);
    EXPECT_LT(Clock::now() - *stopped, 1s);
    EXPECT_GT(pumpsAfterStop, 0);
    EXPECT_FALSE(client.IsBusy());
    release();
    watchdog.join();

    // The client connects again as if nothing had happened.
    client.Settings().KeyFile = key.server.Folder() + "/key";
    client.Connect();
    EXPECT_TRUE(client.IsConnected());
    EXPECT_EQ(client.AuthenticatedBy(), TSftpAuthMethod::KeyFile);
}

// Stop between two sign-in requests: the socket is shut down while the
// worker opens the key file, so the next request (the password) fails to be
// written and libssh closes the socket itself before it waits for the answer.
// That wait must not outlast the stop, as it did (for libssh's whole time
// limit) when a run stopped the further connections it no longer needed while
// they signed in.
TEST(SftpClientStop, ASignInStoppedBetweenItsRequestsEndsAtOnce)
{
    KeyInAPipe key;
    std::atomic<bool> stopRequested { false };
    std::optional<Clock::time_point> stopped;
    // Lets the sign-in go on once the stop has cut the socket (within a pump
    // interval of the stop), or after a while in any case.
    std::thread releaser([&] {
        for (int i = 0; i < 100 && !stopRequested; ++i)
            std::this_thread::sleep_for(50ms);
        std::this_thread::sleep_for(200ms);
        key.Release();
    });
    WorkerOpeningAFile opening;
    TSftpClient* self = nullptr;
    TSftpClient client([&] {
        if (!stopped && opening()) {
            stopped = Clock::now();
            self->Stop();
            stopRequested = true;
        }
    });
    self = &client;
    Aim(client, key.server);
    client.Settings().KeyFile = key.pipe;
    TSftpLimits limits;
    limits.ConnectTimeout = 10s;
    limits.StopGrace = 30s; // the worker itself must return
    client.SetLimits(limits);
    EXPECT_THROW(client.Connect(), ESftpAborted);
    releaser.join();
    ASSERT_TRUE(stopped);
    EXPECT_LT(Clock::now() - *stopped, 1s);
}

} // namespace
} // namespace taskhaul::sftp
