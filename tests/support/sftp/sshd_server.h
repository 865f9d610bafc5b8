#pragma once

// OpenSSH's sshd started by a test: its own folder with a configuration, an
// Ed25519 host key and authorized keys, listening on a free loopback port,
// serving SFTP with the internal server. Never the system's service. The
// folder also holds the client keys the tests sign in with:
//   plain    authorized, no passphrase
//   locked   authorized, passphrase LockedPassphrase
//   agent    authorized, for the ssh-agent
//   stranger not authorized
// Needs /usr/sbin/sshd and ssh-keygen; Start() throws std::runtime_error with
// the reason when it cannot run.

#include "ftp/spawn.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul::test {

class SshdServer {
public:
    static constexpr const char* LockedPassphrase = "correct horse";

    SshdServer();
    ~SshdServer();
    SshdServer(const SshdServer&) = delete;
    SshdServer& operator=(const SshdServer&) = delete;

    // `extraConfig`: sshd_config lines that go before the test's own, so that
    // they win ("MaxAuthTries 1\n").
    void Start(const std::string& extraConfig = {});
    int Port() const { return port_; }
    // The folder everything lives in; tests put their files below it.
    const std::string& Folder() const { return folder_; }
    std::string KeyPath(const std::string& name) const { return folder_ + "/" + name; }
    // The user sshd lets in: the one running the test.
    const std::string& User() const { return user_; }
    // "ssh-ed25519" and "SHA256:..." as ssh-keygen shows the host key.
    const std::string& HostKeyType() const { return hostKeyType_; }
    const std::string& HostKeyFingerprint() const { return hostKeyFingerprint_; }
    // A known_hosts line for this server ("[127.0.0.1]:port ssh-ed25519 AAAA...").
    std::string KnownHostsLine() const;
    // The same for another key: what known_hosts holds after a server's key changed.
    std::string KnownHostsLineWithOtherKey() const;

private:
    std::string folder_;
    std::string user_;
    std::string hostKeyType_;
    std::string hostKeyFingerprint_;
    int port_ = 0;
    ServerProcess process_;
};

// An ssh-agent of the test's own, on a socket in `folder`, holding one key.
class SshAgent {
public:
    SshAgent(const std::string& folder, const std::string& keyPath);
    ~SshAgent();
    SshAgent(const SshAgent&) = delete;
    SshAgent& operator=(const SshAgent&) = delete;
    const std::string& Socket() const { return socket_; }

private:
    std::string socket_;
    int pid_ = -1;
};

// The scripted SFTP server (scripted_sftp_server.py, Python's asyncssh) for
// what a real server will not do: password and keyboard-interactive sign-in,
// a refused file, a connection that breaks or a server that stalls mid-file,
// a listing that never comes, an entry listed without its permissions, and a
// hostile server that cuts, hangs up or stalls at any stage of chosen
// connections. Serves its own folder as "/".
class ScriptedSftpServer {
public:
    // `auth`: the methods offered, separated by commas: "password" and
    // "keyboard-interactive" are answered by `password`, "publickey" by the
    // keys of AuthorizedKeys(). `faults`: "STAGE:ACTION[:CONNECTIONS]" as the
    // script describes them ("auth-try:hangup:2-": from the second connection
    // on, the server hangs up at the first sign-in attempt).
    ScriptedSftpServer(
        const std::string& auth, const std::string& password, const std::vector<std::string>& faults = {});
    ~ScriptedSftpServer();
    ScriptedSftpServer(const ScriptedSftpServer&) = delete;
    ScriptedSftpServer& operator=(const ScriptedSftpServer&) = delete;
    int Port() const { return port_; }
    // The served folder ("/" to the client).
    const std::string& Root() const { return root_; }
    const std::string& HostKeyFingerprint() const { return fingerprint_; }
    // Beside the served folder: the keys "publickey" accepts, read at each
    // attempt, and a folder for the test's own files.
    std::string AuthorizedKeys() const { return folder_ + "/authorized_keys"; }
    const std::string& Folder() const { return folder_; }

private:
    std::string folder_;
    std::string root_;
    std::string fingerprint_;
    int port_ = 0;
    ServerProcess process_;
};

// Runs a program to its end; returns its standard output. Throws
// std::runtime_error when it cannot start or exits with a failure.
std::string RunProgram(const std::vector<std::string>& arguments);

// The names in a folder, without "." and "..", sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// Writes or reads a whole file.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A sparse file of `size` bytes (zeros), as large as a download that is far
// from done when a test stops it; fails the test when it cannot be made.
void MakeSparseFile(const std::string& path, std::int64_t size);

// 2001-09-09 01:46:40 UTC: a time no test's file has by chance.
inline constexpr std::int64_t kFixedTime = 1000000000;

// `size` bytes of every value, the same for the same seed.
std::string PatternBytes(std::size_t size, unsigned seed);

// Gives a file (or a link itself) this modification and access time, in
// seconds since the epoch; fails the test when the system refuses.
void SetFileTime(const std::string& path, std::int64_t seconds);

// A test's own folders below the server's: `folder` named after the running
// test, with the empty `remote` and `local` inside it.
struct TestFolders {
    std::string folder;
    std::string remote;
    std::string local;
};
TestFolders MakeTestFolders(const SshdServer& server);

// A test suite on one sshd of its own (started before the first test, stopped
// after the last), with the folders of each test (see MakeTestFolders).
class SshdTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = std::make_unique<SshdServer>();
        server_->Start();
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override
    {
        const TestFolders folders = MakeTestFolders(*server_);
        folder_ = folders.folder;
        remote_ = folders.remote;
        local_ = folders.local;
    }

    static inline std::unique_ptr<SshdServer> server_;
    std::string folder_;
    std::string remote_;
    std::string local_;
};

// HOME (where ~/.ssh/known_hosts is read) and SSH_AUTH_SOCK as a test sets
// them, and back afterwards. The agent is off until a test sets one.
class SshEnvironment {
public:
    SshEnvironment();
    ~SshEnvironment();
    SshEnvironment(const SshEnvironment&) = delete;
    SshEnvironment& operator=(const SshEnvironment&) = delete;

    // Makes `folder` the home, its known_hosts holding `knownHosts` (no file
    // when nothing).
    static void Home(const std::string& folder, const std::optional<std::string>& knownHosts);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace taskhaul::test
