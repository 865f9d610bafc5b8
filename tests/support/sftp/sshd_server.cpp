#include "sftp/sshd_server.h"

#include "ftp/loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

std::string FirstWords(const std::string& text, int count)
{
    std::istringstream in(text);
    std::string word;
    std::string out;
    for (int i = 0; i < count && in >> word; ++i)
        out += (out.empty() ? "" : " ") + word;
    return out;
}

void RemoveTree(const std::string& folder)
{
    if (!folder.empty())
        RunProgram({ "/bin/rm", "-rf", folder });
}

} // namespace

std::string RunProgram(const std::vector<std::string>& arguments)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    int pid = -1;
    try {
        pid = Spawn(arguments, fds[1]);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(arguments[0] + " failed: " + output);
    return output;
}

std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

SshdServer::SshdServer()
{
    char pattern[] = "/tmp/taskhaul-sshd-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    if (const passwd* entry = ::getpwuid(::getuid()))
        user_ = entry->pw_name;
}

SshdServer::~SshdServer()
{
    process_.Stop();
    RemoveTree(folder_);
}

void SshdServer::Start(const std::string& extraConfig)
{
    const auto keygen = [&](const std::string& name, const std::string& passphrase) {
        RunProgram({ "/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", passphrase, "-C", name, "-f",
            KeyPath(name) });
    };
    keygen("host", "");
    keygen("other_host", "");
    keygen("plain", "");
    keygen("locked", LockedPassphrase);
    keygen("agent", "");
    keygen("stranger", "");
    WriteFile(KeyPath("authorized_keys"),
        ReadFile(KeyPath("plain.pub")) + ReadFile(KeyPath("locked.pub")) + ReadFile(KeyPath("agent.pub")));
    // "256 SHA256:... host (ED25519)"
    hostKeyFingerprint_ = FirstWords(
        RunProgram({ "/usr/bin/ssh-keygen", "-l", "-E", "sha256", "-f", KeyPath("host.pub") }), 2);
    hostKeyFingerprint_ = hostKeyFingerprint_.substr(hostKeyFingerprint_.find(' ') + 1);
    hostKeyType_ = FirstWords(ReadFile(KeyPath("host.pub")), 1);

    // sshd's privilege separation folder; a fresh machine may lack it.
    ::mkdir("/run/sshd", 0755);
    port_ = ClosedLoopbackPort();
    const std::string config = KeyPath("sshd_config");
    WriteFile(config,
        extraConfig + "Port " + std::to_string(port_)
            + "\n"
              "ListenAddress 127.0.0.1\n"
              "HostKey "
            + KeyPath("host")
            + "\n"
              "PidFile none\n"
              "AuthorizedKeysFile "
            + KeyPath("authorized_keys")
            + "\n"
              "StrictModes no\n"
              "UsePAM no\n"
              "PermitRootLogin yes\n"
              "PubkeyAuthentication yes\n"
              "PasswordAuthentication no\n"
              "KbdInteractiveAuthentication no\n"
              "AllowUsers "
            + user_
            + "\n"
              "LogLevel VERBOSE\n"
              "Subsystem sftp internal-sftp\n");
    // ServerProcess waits for a port on the first output line: the shell
    // prints it, then becomes sshd (so that stopping it stops sshd).
    process_.Start("/bin/sh",
        { "-c",
            "echo " + std::to_string(port_) + "; exec /usr/sbin/sshd -D -f " + config + " -E "
                + KeyPath("sshd.log") });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!LoopbackAccepts(port_)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("sshd did not start; its log: " + ReadFile(KeyPath("sshd.log")));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string SshdServer::KnownHostsLine() const
{
    return "[127.0.0.1]:" + std::to_string(port_) + " " + FirstWords(ReadFile(KeyPath("host.pub")), 2) + "\n";
}

std::string SshdServer::KnownHostsLineWithOtherKey() const
{
    return "[127.0.0.1]:" + std::to_string(port_) + " " + FirstWords(ReadFile(KeyPath("other_host.pub")), 2)
        + "\n";
}

ScriptedSftpServer::ScriptedSftpServer(
    const std::string& auth, const std::string& password, const std::vector<std::string>& faults)
{
    char pattern[] = "/tmp/taskhaul-sftp-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    root_ = folder_ + "/root";
    ::mkdir(root_.c_str(), 0755);
    std::vector<std::string> arguments { TASKHAUL_SCRIPTED_SFTP_SERVER, root_, auth, password };
    arguments.insert(arguments.end(), faults.begin(), faults.end());
    port_ = process_.Start("/usr/bin/python3", arguments);
    fingerprint_ = ReadFile(folder_ + "/fingerprint");
}

ScriptedSftpServer::~ScriptedSftpServer()
{
    process_.Stop();
    RemoveTree(folder_);
}

SshAgent::SshAgent(const std::string& folder, const std::string& keyPath)
    : socket_(folder + "/agent.socket")
{
    pid_ = Spawn({ "/usr/bin/ssh-agent", "-D", "-a", socket_ }, -1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    struct stat info { };
    while (::stat(socket_.c_str(), &info) != 0) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("ssh-agent did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    RunProgram({ "/usr/bin/env", "SSH_AUTH_SOCK=" + socket_, "/usr/bin/ssh-add", "-q", keyPath });
}

SshAgent::~SshAgent()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

void MakeSparseFile(const std::string& path, std::int64_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    EXPECT_EQ(::ftruncate(fd, size), 0) << path;
    ::close(fd);
}

std::string PatternBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

void SetFileTime(const std::string& path, std::int64_t seconds)
{
    const timespec times[2] = { { static_cast<time_t>(seconds), 0 }, { static_cast<time_t>(seconds), 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TestFolders MakeTestFolders(const SshdServer& server)
{
    TestFolders folders;
    folders.folder = server.Folder() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    folders.remote = folders.folder + "/remote";
    folders.local = folders.folder + "/local";
    for (const std::string* path : { &folders.folder, &folders.remote, &folders.local })
        EXPECT_EQ(::mkdir(path->c_str(), 0755), 0) << *path;
    return folders;
}

SshEnvironment::SshEnvironment()
{
    for (const char* name : { "HOME", "SSH_AUTH_SOCK" }) {
        const char* value = std::getenv(name);
        saved_.push_back({ name, value ? std::optional<std::string>(value) : std::nullopt });
    }
    ::unsetenv("SSH_AUTH_SOCK");
}

SshEnvironment::~SshEnvironment()
{
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

void SshEnvironment::Home(const std::string& folder, const std::optional<std::string>& knownHosts)
{
    ::mkdir(folder.c_str(), 0700);
    ::mkdir((folder + "/.ssh").c_str(), 0700);
    ::unlink((folder + "/.ssh/known_hosts").c_str());
    if (knownHosts)
        WriteFile(folder + "/.ssh/known_hosts", *knownHosts);
    ::setenv("HOME", folder.c_str(), 1);
}

} // namespace taskhaul::test
