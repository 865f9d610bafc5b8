// The distant-server model the benchmarks use: a relay in front of pyftpdlib
// whose replies arrive a fixed delay late. It must really hold every reply back,
// keep every byte, and never outlive the program that started it.

#include "client_fixture.h"

#include "ftp/distant_server.h"
#include "ftp/pyftpd_server.h"
#include "ftp/spawn.h"

#include <gmock/gmock.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::ftp::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A bare control connection, so that the timing seen is the relay's and not
// the client library's.
class RawControl {
public:
    explicit RawControl(int port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("connect to the relay failed");
    }
    ~RawControl() { ::close(fd_); }
    RawControl(const RawControl&) = delete;
    RawControl& operator=(const RawControl&) = delete;

    void Send(const std::string& text)
    {
        ASSERT_EQ(::send(fd_, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
    }

    // The next reply line, without its CRLF; "" when none came within 10 s or
    // the relay closed the connection (closed() tells which).
    std::string ReadLine()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (buffer_.find("\r\n") == std::string::npos && Clock::now() < deadline) {
            pollfd entry { fd_, POLLIN, 0 };
            if (::poll(&entry, 1, 100) <= 0)
                continue;
            char chunk[512];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        const auto end = buffer_.find("\r\n");
        if (end == std::string::npos)
            return {};
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
    }

    // Everything until the other side closes (at most 10 s).
    std::string ReadAll()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!closed_ && Clock::now() < deadline) {
            pollfd entry { fd_, POLLIN, 0 };
            if (::poll(&entry, 1, 100) <= 0)
                continue;
            char chunk[512];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                closed_ = true;
            else
                buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        return std::exchange(buffer_, {});
    }

    bool closed() const { return closed_; }

private:
    int fd_ = -1;
    std::string buffer_;
    bool closed_ = false;
};

class DistantServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::PyFtpdServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    static test::PyFtpdServer* server;
};

test::PyFtpdServer* DistantServerTest::server = nullptr;

using Model = test::DistantServer::Model;

class DistantServerModels : public DistantServerTest, public ::testing::WithParamInterface<Model> { };

INSTANTIATE_TEST_SUITE_P(Models, DistantServerModels, ::testing::Values(Model::Replies, Model::Link),
    [](const auto& info) { return info.param == Model::Link ? "Link" : "Replies"; });

// Only lower bounds are checked: a reply may come later on a busy machine, but
// never sooner than the delay after what caused it (half of it each way on a link).
TEST_P(DistantServerModels, EveryReplyComesNoSoonerThanTheDelay)
{
    const auto delay = std::chrono::milliseconds(150);
    test::DistantServer distant(server->port(), delay, GetParam());
    auto start = Clock::now();
    RawControl control(distant.port());
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("220 "));
    EXPECT_GE(Clock::now() - start, GetParam() == Model::Link ? delay / 2 : delay);

    const std::array<std::pair<std::string, std::string>, 3> exchanges { {
        { "USER " + server->user() + "\r\n", "331 " },
        { "PASS " + server->password() + "\r\n", "230 " },
        { "NOOP\r\n", "200 " },
    } };
    for (const auto& [command, reply] : exchanges) {
        start = Clock::now();
        control.Send(command);
        EXPECT_THAT(control.ReadLine(), ::testing::StartsWith(reply)) << command;
        EXPECT_GE(Clock::now() - start, delay) << command;
    }
    // Two commands sent together: both replies are late, in order, and the end
    // of the connection after QUIT comes after the reply, not before it.
    start = Clock::now();
    control.Send("NOOP\r\nQUIT\r\n");
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("200 "));
    EXPECT_GE(Clock::now() - start, delay);
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("221 "));
    EXPECT_EQ(control.ReadLine(), "");
    EXPECT_TRUE(control.closed());
}

// On a link the data connection is as far away as the control connection: it
// costs a round trip to open, and its bytes come half a round trip late, so a
// file's first byte comes two round trips after its RETR went out (on the
// replies-only model, at once).
TEST_F(DistantServerTest, OnALinkDataComesThroughTheRelayLate)
{
    const auto delay = std::chrono::milliseconds(150);
    server->writeFile("link/one.txt", "one");
    test::DistantServer distant(server->port(), delay, Model::Link);
    RawControl control(distant.port());
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("220 "));
    control.Send("USER " + server->user() + "\r\nPASS " + server->password() + "\r\nTYPE I\r\nPASV\r\n");
    std::string pasv;
    for (int i = 0; i < 4; ++i)
        pasv = control.ReadLine();
    ASSERT_THAT(pasv, ::testing::StartsWith("227 "));
    std::array<int, 6> numbers {};
    ASSERT_EQ(std::sscanf(pasv.c_str() + pasv.find('(') + 1, "%d,%d,%d,%d,%d,%d", &numbers[0], &numbers[1],
                  &numbers[2], &numbers[3], &numbers[4], &numbers[5]),
        6);
    EXPECT_EQ((std::array<int, 4> { numbers[0], numbers[1], numbers[2], numbers[3] }),
        (std::array<int, 4> { 127, 0, 0, 1 }));
    RawControl data(numbers[4] * 256 + numbers[5]);
    const auto start = Clock::now();
    control.Send("RETR link/one.txt\r\n");
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("125 "));
    EXPECT_EQ(data.ReadAll(), "one");
    EXPECT_GE(Clock::now() - start, 2 * delay);
    EXPECT_THAT(control.ReadLine(), ::testing::StartsWith("226 "));
}

class DistantServerModes : public DistantServerTest, public ::testing::WithParamInterface<bool> { };

INSTANTIATE_TEST_SUITE_P(Modes, DistantServerModes, ::testing::Values(true, false),
    [](const auto& info) { return info.param ? "Passive" : "Active"; });

TEST_P(DistantServerModes, DownloadsArriveByteForByte)
{
    std::string content(2 * 1024 * 1024 + 13, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31 + (i >> 9));
    server->writeFile("far/data.bin", content);
    server->writeFile("far/empty.txt", "");
    test::DistantServer distant(server->port());

    TFtpClient client;
    client.SetHost(distant.host());
    client.SetPort(distant.port());
    client.SetUsername(server->user());
    client.SetPassword(server->password());
    client.SetLimits(ShortLimits());
    client.SetPassive(GetParam());
    TempFolder folder;
    ASSERT_NO_THROW(client.Connect());
    client.ChangeDirectory("far");
    std::vector<std::string> lines;
    client.ListFolder(lines);
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(client.FileSize("data.bin"), static_cast<std::int64_t>(content.size()));
    client.RetrieveFile("data.bin", folder.File("data.bin"), false);
    EXPECT_TRUE(ReadFile(folder.File("data.bin")) == content);
    client.RetrieveFile("empty.txt", folder.File("empty.txt"), false);
    EXPECT_EQ(ReadFile(folder.File("empty.txt")), "");
    EXPECT_THROW(client.RetrieveFile("nothing.here", folder.File("nothing.here"), false), EFtpReplyError);
    EXPECT_THAT(folder.Entries(), ::testing::ElementsAre("data.bin", "empty.txt"));
}

// True once `pid` has ended (gone, or a zombie nobody reaped) within 20 s.
bool EndsWithin20Seconds(int pid)
{
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        ::waitpid(pid, nullptr, WNOHANG);
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string fields;
        if (!std::getline(stat, fields))
            return true;
        const auto close = fields.rfind(')');
        if (close != std::string::npos && fields.compare(close, 3, ") Z") == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Reads "pid N" and the relay's port (a line of digits alone), in whatever
// order they come; returns N, or -1 when either is missing after 20 s.
int ReadPidOnceListening(int fd)
{
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        std::istringstream lines(text);
        int pid = -1;
        bool listening = false;
        for (std::string line; std::getline(lines, line) && !lines.eof();) {
            if (line.rfind("pid ", 0) == 0)
                pid = std::atoi(line.c_str() + 4);
            else if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
                listening = true;
        }
        if (pid > 0 && listening)
            return pid;
        pollfd entry { fd, POLLIN, 0 };
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        char chunk[128];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return -1;
}

TEST_F(DistantServerTest, StopsWhenItsParentEnds)
{
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    // The relay's parent is a shell that waits for it; the shell is killed once
    // the relay listens, as a crashed benchmark or test program would end.
    const int shell
        = test::Spawn({ "/bin/sh", "-c", "\"$0\" \"$1\" --server-port \"$2\" & echo \"pid $!\"; wait",
                          "/usr/bin/python3", test::DistantServer::Script(), std::to_string(server->port()) },
            fds[1]);
    ::close(fds[1]);
    const int relay = ReadPidOnceListening(fds[0]);
    ::kill(shell, SIGKILL);
    ::waitpid(shell, nullptr, 0);
    ::close(fds[0]);
    ASSERT_GT(relay, 0);
    const bool ended = EndsWithin20Seconds(relay);
    if (!ended)
        ::kill(relay, SIGKILL);
    EXPECT_TRUE(ended);
}

TEST_F(DistantServerTest, StopsAfterItsTimeLimit)
{
    const int relay = test::Spawn({ "/usr/bin/python3", test::DistantServer::Script(), "--server-port",
                                      std::to_string(server->port()), "--max-seconds", "1" },
        -1);
    const bool ended = EndsWithin20Seconds(relay);
    if (!ended)
        ::kill(relay, SIGKILL);
    ::waitpid(relay, nullptr, 0);
    EXPECT_TRUE(ended);
}

} // namespace
} // namespace taskhaul::ftp::testing
