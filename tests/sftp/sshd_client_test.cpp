// The client against a real OpenSSH server started by the test.

#include "sftp/sftp_client.h"
#include "sftp/sshd_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace taskhaul::sftp {
namespace {

using namespace std::chrono_literals;
using test::kFixedTime;
using test::PatternBytes;
using test::SetFileTime;

class SftpAgainstSshd : public test::SshdTest {
protected:
    void SetUp() override
    {
        SshdTest::SetUp();
        knownHosts_ = folder_ + "/known_hosts";
        test::WriteFile(knownHosts_, server_->KnownHostsLine());
        client_ = std::make_unique<TSftpClient>([this] {
            if (pump_)
                pump_();
        });
        TSftpSettings& settings = client_->Settings();
        settings.Host = "127.0.0.1";
        settings.Port = server_->Port();
        settings.Username = server_->User();
        settings.KnownHostsPath = knownHosts_;
        settings.AgentSocket = "";
        settings.KeyFile = server_->KeyPath("plain");
    }

    std::string knownHosts_;
    std::function<void()> pump_;
    std::unique_ptr<TSftpClient> client_;
};

TEST_F(SftpAgainstSshd, SignsInWithKeyFilesAndTheAgent)
{
    test::SshAgent agent(folder_, server_->KeyPath("agent"));
    const struct {
        const char* name;
        std::string keyFile;
        std::string passphrase;
        std::string agentSocket;
        TSftpAuthMethod expected;
    } cases[] = {
        { "plain key", server_->KeyPath("plain"), "", "", TSftpAuthMethod::KeyFile },
        { "locked key", server_->KeyPath("locked"), test::SshdServer::LockedPassphrase, "",
            TSftpAuthMethod::KeyFile },
        { "agent first", server_->KeyPath("stranger"), "", agent.Socket(), TSftpAuthMethod::Agent },
        // an agent whose keys the server refuses leaves the key file to try
        { "key after agent", server_->KeyPath("plain"), "", agent.Socket() + ".missing",
            TSftpAuthMethod::KeyFile },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSftpSettings& settings = client_->Settings();
        settings.KeyFile = c.keyFile;
        settings.KeyPassphrase = c.passphrase;
        settings.AgentSocket = c.agentSocket;
        client_->Connect();
        EXPECT_TRUE(client_->IsConnected());
        EXPECT_EQ(client_->AuthenticatedBy(), c.expected);
        EXPECT_EQ(client_->HostKey().Verdict, TSftpHostKey::Status::Known);
        client_->Disconnect();
        EXPECT_FALSE(client_->IsConnected());
    }
}

// The app runs for months: connections that end, well or badly, leave no
// descriptor behind.
TEST_F(SftpAgainstSshd, ConnectionsLeaveNoDescriptorOpen)
{
    const auto before = test::FolderNames("/proc/self/fd").size();
    for (int i = 0; i < 3; ++i) {
        client_->Connect();
        client_->ListFolder(remote_);
        client_->Disconnect();
    }
    client_->Settings().KnownHostsPath = folder_ + "/missing";
    EXPECT_THROW(client_->Connect(), ESftpHostKeyUnknown);
    // A path libssh will not expand: it fails before it takes the socket.
    client_->Settings().KnownHostsPath = folder_ + "/%q";
    EXPECT_THROW(client_->Connect(), ESftpConnectionError);
    client_->Settings().KnownHostsPath = knownHosts_;
    client_->Connect(); // and dropped by the destructor
    client_.reset();
    EXPECT_EQ(test::FolderNames("/proc/self/fd").size(), before);
}

TEST_F(SftpAgainstSshd, FailedSignInNamesTheMethodsTried)
{
    const struct {
        const char* name;
        std::string keyFile;
        std::string passphrase;
        std::vector<std::string> named;
    } cases[] = {
        { "key not authorized", server_->KeyPath("stranger"), "", { "tried: key file \"", "stranger\"" } },
        { "wrong passphrase", server_->KeyPath("locked"), "wrong",
            { "locked\" (cannot be read, or the passphrase is wrong)" } },
        { "nothing to try", "", "", { "the server offers publickey" } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client_->Settings().KeyFile = c.keyFile;
        client_->Settings().KeyPassphrase = c.passphrase;
        try {
            client_->Connect();
            ADD_FAILURE() << "signed in";
        } catch (const ESftpAuthError& e) {
            const std::string text = e.what();
            EXPECT_NE(
                text.find("Authentication failed for user \"" + server_->User() + "\""), std::string::npos)
                << text;
            for (const auto& part : c.named)
                EXPECT_NE(text.find(part), std::string::npos) << text;
        }
        EXPECT_FALSE(client_->IsConnected());
    }
}

// sshd ends the connection once a client has failed more sign-in attempts
// than it allows: the connect ends at once with that reason, not after its
// time limit.
TEST(SftpSignInLimit, AServerThatHangsUpPastItsLimitIsNotWaitedFor)
{
    test::SshdServer server;
    server.Start("MaxAuthTries 1\n");
    const std::string folder = server.Folder();
    test::WriteFile(folder + "/known_hosts", server.KnownHostsLine());
    const std::string extra = folder + "/stranger2";
    test::RunProgram({ "/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", extra });
    test::SshAgent agent(folder, server.KeyPath("stranger"));
    test::RunProgram({ "/usr/bin/env", "SSH_AUTH_SOCK=" + agent.Socket(), "/usr/bin/ssh-add", "-q", extra });
    const struct {
        const char* name;
        std::string agentSocket;
        std::string keyFile;
    } cases[] = {
        { "a key it does not accept, and a password", "", server.KeyPath("stranger") },
        { "an agent with more keys than the limit", agent.Socket(), server.KeyPath("plain") },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSftpClient client;
        TSftpSettings& settings = client.Settings();
        settings.Host = "127.0.0.1";
        settings.Port = server.Port();
        settings.Username = server.User();
        settings.Password = "not the password";
        settings.KnownHostsPath = folder + "/known_hosts";
        settings.AgentSocket = c.agentSocket;
        settings.KeyFile = c.keyFile;
        const auto started = std::chrono::steady_clock::now();
        try {
            client.Connect();
            ADD_FAILURE() << "signed in";
        } catch (const ESftpConnectionError& e) {
            const std::string text = e.what();
            EXPECT_EQ(text.rfind("The server closed the connection during sign-in (too many authentication "
                                 "attempts?)",
                          0),
                0u)
                << text;
            EXPECT_NE(text.find("Too many authentication failures"), std::string::npos) << text;
        }
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }
}

TEST_F(SftpAgainstSshd, HostKeyIsCheckedBeforeSigningIn)
{
    const std::string hashed = folder_ + "/hashed_known_hosts";
    test::WriteFile(hashed, server_->KnownHostsLine());
    test::RunProgram({ "/usr/bin/ssh-keygen", "-q", "-H", "-f", hashed });
    const std::string other = folder_ + "/other_known_hosts";
    test::WriteFile(other, server_->KnownHostsLineWithOtherKey());
    const std::string empty = folder_ + "/empty_known_hosts";
    test::WriteFile(empty, "");
    // Marker lines: a key revoked for every host, for this host, for another
    // host only; and a certification authority's key, which is no host key.
    const std::string line = server_->KnownHostsLine();
    const std::string hostField = line.substr(0, line.find(' '));
    const std::string key = line.substr(line.find(' ') + 1);
    const auto knownHosts = [&](const std::string& name, const std::string& text) {
        test::WriteFile(folder_ + "/" + name, text);
        return folder_ + "/" + name;
    };
    const std::string revokedEverywhere = knownHosts("revoked", line + "@revoked * " + key);
    const std::string revokedHere = knownHosts("revoked_here", "@revoked " + hostField + " " + key);
    const std::string revokedElsewhere
        = knownHosts("revoked_elsewhere", line + "@revoked other.example " + key);
    const std::string authority = knownHosts("authority", "@cert-authority * " + key);
    const std::string fingerprint = server_->HostKeyFingerprint();
    using Status = TSftpHostKey::Status;
    const struct {
        const char* name;
        std::string knownHosts;
        std::string trusted;
        Status expected;
    } cases[] = {
        { "known_hosts hit", knownHosts_, "", Status::Known },
        { "hashed known_hosts hit", hashed, "", Status::Known },
        { "trusted key", empty, fingerprint, Status::Trusted },
        { "no known_hosts file", folder_ + "/missing", fingerprint, Status::Trusted },
        { "unknown", empty, "", Status::Unknown },
        { "known_hosts has another key", other, "", Status::Changed },
        { "another key trusted", empty, "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
            Status::Changed },
        { "revoked though listed", revokedEverywhere, "", Status::Revoked },
        { "revoked though trusted", revokedHere, fingerprint, Status::Revoked },
        { "revoked for another host", revokedElsewhere, "", Status::Known },
        { "a certification authority's key", authority, "", Status::Unknown },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        client_->Settings().KnownHostsPath = c.knownHosts;
        client_->Settings().TrustedHostKey = c.trusted;
        // A key the server refuses: a host key refused first never gets as
        // far as the sign-in, an accepted one fails there.
        client_->Settings().KeyFile = server_->KeyPath("stranger");
        try {
            client_->Connect();
            ADD_FAILURE() << "signed in with a key the server does not know";
        } catch (const ESftpHostKeyUnknown& e) {
            EXPECT_EQ(c.expected, Status::Unknown);
            EXPECT_EQ(e.KeyType(), server_->HostKeyType());
            EXPECT_EQ(e.Fingerprint(), fingerprint);
            EXPECT_EQ(std::string(e.what()),
                "The server's host key is not known: " + server_->HostKeyType() + " " + fingerprint + ".");
        } catch (const ESftpHostKeyChanged& e) {
            EXPECT_EQ(c.expected, Status::Changed);
            EXPECT_EQ(e.Fingerprint(), fingerprint);
            EXPECT_EQ(std::string(e.what()).rfind("The server's host key has changed", 0), 0u) << e.what();
        } catch (const ESftpHostKeyRevoked& e) {
            EXPECT_EQ(c.expected, Status::Revoked);
            EXPECT_EQ(e.Fingerprint(), fingerprint);
            EXPECT_EQ(std::string(e.what()),
                "The server's host key is revoked: " + server_->HostKeyType() + " " + fingerprint
                    + " is marked @revoked in known_hosts. Someone may be using a stolen key to pose as "
                      "the server; the connection was refused.");
        } catch (const ESftpAuthError&) {
            EXPECT_TRUE(c.expected == Status::Known || c.expected == Status::Trusted);
        }
        EXPECT_EQ(client_->HostKey().Verdict, c.expected);
        EXPECT_EQ(client_->HostKey().Fingerprint, fingerprint);
    }
    // known_hosts is only read.
    EXPECT_EQ(test::ReadFile(empty), "");
    EXPECT_EQ(test::ReadFile(other), server_->KnownHostsLineWithOtherKey());
}

TEST_F(SftpAgainstSshd, ListsNamesAsBytesWithKindSizeAndTime)
{
    const std::string latin1 = "caf\xe9.txt";
    test::WriteFile(remote_ + "/a.txt", "hello");
    test::WriteFile(remote_ + "/" + latin1, std::string(1000, 'x'));
    ASSERT_EQ(::mkdir((remote_ + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.txt", (remote_ + "/link").c_str()), 0);
    SetFileTime(remote_ + "/a.txt", kFixedTime);
    SetFileTime(remote_ + "/" + latin1, kFixedTime + 59);
    client_->Connect();
    auto entries = client_->ListFolder(remote_);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.Name < b.Name; });
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].Name, "a.txt");
    EXPECT_EQ(entries[0].Kind, TSftpEntryKind::File);
    EXPECT_EQ(entries[0].Size, 5);
    EXPECT_EQ(entries[0].Modified, TSftpTime(std::chrono::seconds(kFixedTime)));
    EXPECT_EQ(entries[1].Name, latin1);
    EXPECT_EQ(entries[1].Size, 1000);
    EXPECT_EQ(entries[1].Modified, TSftpTime(std::chrono::seconds(kFixedTime + 59)));
    EXPECT_EQ(entries[2].Name, "link");
    EXPECT_EQ(entries[2].Kind, TSftpEntryKind::Link);
    EXPECT_EQ(entries[3].Name, "sub");
    EXPECT_EQ(entries[3].Kind, TSftpEntryKind::Folder);

    // Stat follows the link.
    const TSftpFileFacts facts = client_->Stat(remote_ + "/link");
    EXPECT_EQ(facts.Kind, TSftpEntryKind::File);
    EXPECT_EQ(facts.Size, 5);
    EXPECT_EQ(facts.Modified, TSftpTime(std::chrono::seconds(kFixedTime)));
}

TEST_F(SftpAgainstSshd, ListsFoldersLargerThanOneAnswerUpToTheLimit)
{
    // The server sends a folder's names in batches of about a hundred.
    for (int i = 0; i < 250; ++i)
        test::WriteFile(remote_ + "/f" + std::to_string(i), "");
    client_->Connect();
    EXPECT_EQ(client_->ListFolder(remote_).size(), 250u);
    TSftpLimits limits;
    limits.MaxListingEntries = 249;
    client_->SetLimits(limits);
    try {
        client_->ListFolder(remote_);
        FAIL() << "listed more entries than the limit";
    } catch (const ESftpFolderError& e) {
        EXPECT_EQ(
            std::string(e.what()), "Cannot list folder \"" + remote_ + "\": it has more than 249 entries.");
    }
    EXPECT_TRUE(client_->IsConnected());
    EXPECT_EQ(client_->Stat(remote_ + "/f0").Size, 0);
}

TEST_F(SftpAgainstSshd, MissingPathsFailTheFolderOrTheFileAndKeepTheConnection)
{
    client_->Connect();
    try {
        client_->ListFolder(remote_ + "/gone");
        FAIL() << "listed a missing folder";
    } catch (const ESftpFolderError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot list folder \"" + remote_ + "/gone\": No such file.");
    }
    try {
        client_->Download(remote_ + "/gone.txt", local_ + "/gone.txt");
        FAIL() << "downloaded a missing file";
    } catch (const ESftpFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot download \"" + remote_ + "/gone.txt\": No such file.");
    }
    EXPECT_THROW(client_->Stat(remote_ + "/gone.txt"), ESftpFileError);
    test::WriteFile(remote_ + "/here.txt", "here");
    EXPECT_THROW(client_->Download(remote_ + "/here.txt", local_ + "/gone/here.txt"), ESftpLocalFileError);
    EXPECT_TRUE(test::FolderNames(local_).empty()) << "a temporary was left behind";
    EXPECT_TRUE(client_->IsConnected());
    EXPECT_EQ(client_->ListFolder(remote_).size(), 1u);
}

TEST_F(SftpAgainstSshd, DownloadsByteForByte)
{
    // Request sizes above what the server answers in one go (OpenSSH caps a
    // read well below 1 MiB) make every answer short: the rest must be asked
    // for and written in order.
    const struct {
        const char* name;
        std::size_t size;
        std::uint32_t requestSize;
        int inFlight;
    } cases[] = {
        { "empty", 0, 32768, 64 },
        { "one byte", 1, 32768, 64 },
        { "exact request", 32768, 32768, 64 },
        { "several MiB", 5 * 1024 * 1024 + 17, 32768, 64 },
        { "one request at a time", 300000, 32768, 1 },
        { "short answers", 3 * 1024 * 1024 + 5, 1024 * 1024, 8 },
    };
    client_->Connect();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSftpLimits limits;
        limits.ReadRequestSize = c.requestSize;
        limits.ReadRequestsInFlight = c.inFlight;
        client_->SetLimits(limits);
        const std::string bytes = PatternBytes(c.size, static_cast<unsigned>(c.size));
        const std::string name = std::string("/") + c.name;
        test::WriteFile(remote_ + name, bytes);
        std::int64_t lastReceived = -1;
        std::int64_t lastTotal = -2;
        client_->OnProgress = [&](std::int64_t received, std::int64_t total) {
            EXPECT_GE(received, lastReceived);
            lastReceived = received;
            lastTotal = total;
        };
        const TSftpFileFacts facts = client_->Download(remote_ + name, local_ + name);
        EXPECT_EQ(facts.Size, static_cast<std::int64_t>(c.size));
        EXPECT_EQ(lastReceived, static_cast<std::int64_t>(c.size));
        EXPECT_EQ(lastTotal, static_cast<std::int64_t>(c.size));
        EXPECT_TRUE(test::ReadFile(local_ + name) == bytes);
    }
    EXPECT_EQ(test::FolderNames(local_).size(), std::size(cases)) << "temporaries left behind";
}

TEST_F(SftpAgainstSshd, KeepsTheRemoteTimeAndAnExistingFileOnRequest)
{
    test::WriteFile(remote_ + "/new.txt", "new contents");
    SetFileTime(remote_ + "/new.txt", kFixedTime);
    test::WriteFile(local_ + "/new.txt", "old contents");
    client_->Connect();

    TSftpDownloadOptions keep;
    keep.Overwrite = false;
    EXPECT_THROW(client_->Download(remote_ + "/new.txt", local_ + "/new.txt", keep), ESftpLocalFileError);
    EXPECT_EQ(test::ReadFile(local_ + "/new.txt"), "old contents");
    EXPECT_EQ(test::FolderNames(local_), std::vector<std::string> { "new.txt" });

    TSftpDownloadOptions withTime;
    withTime.KeepModifiedTime = true;
    client_->Download(remote_ + "/new.txt", local_ + "/new.txt", withTime);
    EXPECT_EQ(test::ReadFile(local_ + "/new.txt"), "new contents");
    struct stat info { };
    ASSERT_EQ(::stat((local_ + "/new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, kFixedTime);
}

TEST_F(SftpAgainstSshd, StopMidFileRemovesTheTemporaryAndCloses)
{
    // A large sparse file read in small steps one at a time: far from done
    // when the first progress report comes.
    const std::string big = remote_ + "/big.bin";
    ASSERT_NO_FATAL_FAILURE(test::MakeSparseFile(big, 1LL << 34));
    TSftpLimits limits;
    limits.ReadRequestSize = 4096;
    limits.ReadRequestsInFlight = 1;
    client_->SetLimits(limits);
    client_->Connect();
    test::WriteFile(local_ + "/big.bin", "older copy");
    client_->OnProgress = [&](std::int64_t received, std::int64_t) {
        if (received > 0)
            client_->Stop();
    };
    EXPECT_THROW(client_->Download(big, local_ + "/big.bin"), ESftpAborted);
    EXPECT_FALSE(client_->IsConnected());
    EXPECT_EQ(test::FolderNames(local_), std::vector<std::string> { "big.bin" });
    EXPECT_EQ(test::ReadFile(local_ + "/big.bin"), "older copy");

    // The next Connect starts afresh. A handler that throws ends the
    // download the same way, with its own exception.
    client_->Connect();
    client_->OnProgress = [](std::int64_t received, std::int64_t) {
        if (received > 0)
            throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(client_->Download(big, local_ + "/big.bin"), std::runtime_error);
    EXPECT_FALSE(client_->IsBusy());
    EXPECT_EQ(test::FolderNames(local_), std::vector<std::string> { "big.bin" });
    client_->OnProgress = nullptr;
    client_->Connect();
    EXPECT_EQ(client_->Stat(big).Size, 1LL << 34);
}

} // namespace
} // namespace taskhaul::sftp
