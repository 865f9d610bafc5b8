// The SFTP site against a real OpenSSH server, and against the scripted
// server for faults a real one does not produce.

#include "site/sftp_site.h"

#include "sftp/sftp_client.h"
#include "sftp/sshd_server.h"
#include "transfer/transfer_texts.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul {
namespace {

// A connect as the engine makes it: the job's values, then the connection.
SiteConnected connectTo(RemoteSite& site, const JobSettings& job, const QString& trusted)
{
    site.configure(job, trusted);
    return site.connect();
}

using namespace std::chrono_literals;
using test::kFixedTime;

QDateTime Utc(std::int64_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

using test::SshEnvironment;

TEST(SftpSitePort, JobTextsBecomePortsOrRefusals)
{
    const struct {
        const char* text;
        int port; // 0: refused as unusable
    } cases[] = {
        { "22", 22 },
        { "21", 22 }, // the FTP default left in place
        { "2222", 2222 },
        { "65535", 65535 },
        { "0", 0 },
        { "70000", 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.port) {
            EXPECT_EQ(sftpPort(QString::fromLatin1(c.text)), c.port);
            continue;
        }
        try {
            sftpPort(QString::fromLatin1(c.text));
            ADD_FAILURE() << "accepted";
        } catch (const SiteError& e) {
            EXPECT_EQ(e.kind(), SiteError::Kind::JobUnusable);
            EXPECT_EQ(std::string(e.what()), "The port " + std::string(c.text) + " is outside 1 to 65535.");
        }
    }
    EXPECT_THROW(sftpPort(QStringLiteral("ssh")), InvalidIntegerError);
}

class SftpSiteAgainstSshd : public test::SshdTest {
protected:
    void SetUp() override
    {
        SshdTest::SetUp();
        SshEnvironment::Home(folder_ + "/home", server_->KnownHostsLine());
        job_.protocol = JobSettings::Protocol::Sftp;
        job_.host = QStringLiteral("127.0.0.1");
        job_.port = QString::number(server_->Port());
        job_.userName = QString::fromStdString(server_->User());
        job_.keyFile = QString::fromStdString(server_->KeyPath("plain"));
        site_ = std::make_unique<SftpSite>([this] {
            if (pump_)
                pump_();
        });
        site_->onDisconnected = [this] { ++disconnects_; };
    }

    SshEnvironment environment_;
    JobSettings job_;
    std::function<void()> pump_;
    std::unique_ptr<SftpSite> site_;
    int disconnects_ = 0;
};

TEST_F(SftpSiteAgainstSshd, SignsInAndLogsTheMethod)
{
    test::SshAgent agent(folder_, server_->KeyPath("agent"));
    const struct {
        const char* name;
        std::string keyFile;
        std::string passphrase;
        std::string agentSocket;
        const char* line;
    } cases[] = {
        { "key file", server_->KeyPath("plain"), "", "", "Signed in with the key file." },
        { "key file with passphrase", server_->KeyPath("locked"), test::SshdServer::LockedPassphrase, "",
            "Signed in with the key file." },
        { "agent", "", "", agent.Socket(), "Signed in with a key from the SSH agent." },
    };
    EXPECT_FALSE(site_->identity()) << "an identity before any connect";
    EXPECT_EQ(site_->scheme(), QStringLiteral("sftp://"));
    int expectedDisconnects = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        job_.keyFile = QString::fromStdString(c.keyFile);
        job_.keyPassphrase = QString::fromStdString(c.passphrase);
        ::setenv("SSH_AUTH_SOCK", c.agentSocket.c_str(), 1);
        // A connection still open is dropped, and its end told.
        const bool wasOpen = site_->connected();
        const SiteConnected result = connectTo(*site_, job_, QString());
        expectedDisconnects += wasOpen ? 1 : 0;
        EXPECT_EQ(disconnects_, expectedDisconnects);
        EXPECT_TRUE(site_->connected());
        EXPECT_EQ(result.logLines, QStringList { QString::fromLatin1(c.line) });
        EXPECT_FALSE(result.trustedIdentityObsolete);
    }
    site_->disconnect();
    site_->disconnect();
    EXPECT_FALSE(site_->connected());
    EXPECT_EQ(disconnects_, expectedDisconnects + 1);
}

TEST_F(SftpSiteAgainstSshd, HostKeyIsKnownTrustedOrRefused)
{
    const std::string fingerprint = server_->HostKeyFingerprint();
    // known_hosts marks the server's key revoked for every host.
    const std::string line = server_->KnownHostsLine();
    const std::string revoked = "@revoked * " + line.substr(line.find(' ') + 1);
    const struct {
        const char* name;
        std::optional<std::string> knownHosts;
        std::string trusted;
        const char* verification;
        bool refused;
        bool changed; // refused as changed or revoked: never to be asked about
        const char* text = ""; // what a refusal's text starts with
    } cases[] = {
        { "known_hosts hit", server_->KnownHostsLine(), "", "known (~/.ssh/known_hosts)", false, false },
        { "trusted key", std::nullopt, fingerprint, "trusted (kept with the job)", false, false },
        { "unknown key", "", "", "unknown", true, false, "The server's host key is not known" },
        { "known_hosts has another key", server_->KnownHostsLineWithOtherKey(), fingerprint, "changed", true,
            true, "The server's host key has changed" },
        { "another key trusted", "", "SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", "changed", true,
            true, "The server's host key has changed" },
        { "revoked though listed", line + revoked, "", "revoked (~/.ssh/known_hosts)", true, true,
            "The server's host key is revoked" },
        { "revoked though trusted", revoked, fingerprint, "revoked (~/.ssh/known_hosts)", true, true,
            "The server's host key is revoked" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SshEnvironment::Home(folder_ + "/home", c.knownHosts);
        try {
            connectTo(*site_, job_, QString::fromStdString(c.trusted));
            EXPECT_FALSE(c.refused) << "connected";
        } catch (const SiteIdentityError& e) {
            EXPECT_TRUE(c.refused) << e.what();
            EXPECT_EQ(e.kind(), SiteError::Kind::Identity);
            EXPECT_EQ(e.changed(), c.changed);
            EXPECT_FALSE(e.reason().isEmpty());
            // An unattended run logs what() alone: the fingerprint must be there.
            EXPECT_NE(std::string(e.what()).find(fingerprint), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(c.text, 0), 0u) << e.what();
            const SiteIdentity& identity = e.identity();
            EXPECT_EQ(identity.kind, SiteIdentity::Kind::HostKey);
            EXPECT_EQ(identity.fingerprint.toStdString(), fingerprint);
            EXPECT_EQ(identity.shownFingerprint.toStdString(), fingerprint);
            ASSERT_EQ(identity.details.size(), 2u);
            EXPECT_EQ(identity.details[0].first, QStringLiteral("key type"));
            EXPECT_EQ(identity.details[0].second.toStdString(), server_->HostKeyType());
            EXPECT_EQ(identity.details[1].first, QStringLiteral("SHA-256 fingerprint"));
            EXPECT_EQ(identity.details[1].second.toStdString(), fingerprint);
            EXPECT_EQ(identity.verification, QString::fromLatin1(c.verification));
        }
        EXPECT_EQ(site_->connected(), !c.refused);
        ASSERT_TRUE(site_->identity());
        EXPECT_EQ(site_->identity()->fingerprint.toStdString(), fingerprint);
        EXPECT_EQ(site_->identity()->verification, QString::fromLatin1(c.verification));
        site_->disconnect();
    }
    EXPECT_EQ(disconnects_, 2) << "told of connections that were never open";
}

TEST_F(SftpSiteAgainstSshd, FailedConnectsSayWhy)
{
    const struct {
        const char* name;
        const char* port; // nullptr: the server's
        std::string keyFile;
        SiteError::Kind kind;
        std::string text; // a part of the message
    } cases[] = {
        { "key not authorized", nullptr, server_->KeyPath("stranger"), SiteError::Kind::Connection,
            "(tried: key file \"" + server_->KeyPath("stranger") + "\")" },
        { "no key at all", nullptr, "", SiteError::Kind::Connection, "the server offers publickey" },
        { "nobody listening", "1", server_->KeyPath("plain"), SiteError::Kind::Connection, "" },
        { "port out of range", "70000", server_->KeyPath("plain"), SiteError::Kind::JobUnusable,
            "The port 70000 is outside 1 to 65535." },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        JobSettings job = job_;
        if (c.port)
            job.port = QString::fromLatin1(c.port);
        job.keyFile = QString::fromStdString(c.keyFile);
        try {
            connectTo(*site_, job, QString());
            ADD_FAILURE() << "connected";
        } catch (const SiteError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << e.what();
        }
        EXPECT_FALSE(site_->connected());
    }
    job_.port = QStringLiteral("twenty-two");
    EXPECT_THROW(connectTo(*site_, job_, QString()), InvalidIntegerError);
    EXPECT_EQ(disconnects_, 0);
}

TEST_F(SftpSiteAgainstSshd, ListsKindsSizesAndExactTimes)
{
    test::WriteFile(remote_ + "/a.txt", "hello");
    test::WriteFile(remote_ + "/b.bin", std::string(1000, 'b'));
    ASSERT_EQ(::mkdir((remote_ + "/sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.txt", (remote_ + "/link").c_str()), 0);
    test::SetFileTime(remote_ + "/a.txt", kFixedTime);
    test::SetFileTime(remote_ + "/b.bin", kFixedTime + 59);
    connectTo(*site_, job_, QString());
    // Entered in two steps: the second names its folder below the first.
    site_->enterFolder(folder_);
    site_->enterFolder("remote");
    RemoteListing listing
        = site_->list(job_, [](const QString& line) { ADD_FAILURE() << line.toStdString(); });
    EXPECT_EQ(listing.method, QStringLiteral("SFTP"));
    EXPECT_TRUE(listing.truncation.isEmpty());
    EXPECT_TRUE(listing.unreadable.isEmpty());
    auto& entries = listing.entries;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    const struct {
        const char* name;
        bool plainFile;
        const char* kind;
        std::int64_t size; // below 0: not compared
        std::int64_t time; // 0: not compared
    } expected[] = {
        { "a.txt", true, "file", 5, kFixedTime },
        { "b.bin", true, "file", 1000, kFixedTime + 59 },
        { "link", false, "link", -1, 0 },
        { "sub", false, "dir", -1, 0 },
    };
    ASSERT_EQ(entries.size(), std::size(expected));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(entries[i].name, expected[i].name);
        EXPECT_EQ(entries[i].plainFile, expected[i].plainFile);
        EXPECT_EQ(entries[i].kindName, expected[i].kind);
        ASSERT_TRUE(entries[i].time);
        EXPECT_TRUE(entries[i].time->exactUtc);
        EXPECT_EQ(entries[i].time->precision, RemoteStamp::Precision::Second);
        if (expected[i].size >= 0) {
            EXPECT_EQ(entries[i].size, expected[i].size);
        }
        if (expected[i].time) {
            EXPECT_EQ(entries[i].time->utc, Utc(expected[i].time));
        }
    }

    // Names below the entered folder; a link is followed.
    EXPECT_EQ(site_->fileSize("link"), 5);
    const auto time = site_->fileTime("link", std::nullopt);
    ASSERT_TRUE(time);
    EXPECT_EQ(time->utc, Utc(kFixedTime));
    EXPECT_TRUE(time->exactUtc);
}

TEST_F(SftpSiteAgainstSshd, SizeAndTimeOfAFetchComeFromOneStat)
{
    const std::string file = remote_ + "/growing.log";
    test::WriteFile(file, "12345");
    test::SetFileTime(file, kFixedTime);
    connectTo(*site_, job_, QString());
    site_->enterFolder(remote_);
    EXPECT_EQ(site_->fileSize("growing.log"), 5);
    test::WriteFile(file, "1234567");
    test::SetFileTime(file, kFixedTime + 100);
    // The time that goes with the size above, not the file's new one.
    EXPECT_EQ(site_->fileTime("growing.log", std::nullopt)->utc, Utc(kFixedTime));
    // The next look asks the server again.
    EXPECT_EQ(site_->fileTime("growing.log", std::nullopt)->utc, Utc(kFixedTime + 100));
    EXPECT_EQ(site_->fileSize("growing.log"), 7);
}

TEST_F(SftpSiteAgainstSshd, EnteringWhatIsNoFolderIsRefused)
{
    test::WriteFile(remote_ + "/a.txt", "a");
    connectTo(*site_, job_, QString());
    site_->enterFolder(remote_);
    for (const std::string& folder : { remote_ + "/gone", remote_ + "/a.txt" }) {
        SCOPED_TRACE(folder);
        try {
            site_->enterFolder(folder);
            ADD_FAILURE() << "entered";
        } catch (const SiteError& e) {
            EXPECT_EQ(e.kind(), SiteError::Kind::Refused) << e.what();
            EXPECT_NE(std::string(e.what()).find(folder), std::string::npos) << e.what();
        }
        EXPECT_TRUE(site_->connected());
        // The folder entered before is still the one listed.
        const RemoteListing listing = site_->list(job_, {});
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_EQ(listing.entries[0].name, "a.txt");
    }
}

TEST_F(SftpSiteAgainstSshd, RetrievesFilesOrRefusesThemOnALiveConnection)
{
    const std::string bytes = test::PatternBytes(300000, 7);
    test::WriteFile(remote_ + "/data.bin", bytes);
    test::WriteFile(remote_ + "/new.txt", "new contents");
    test::WriteFile(local_ + "/new.txt", "old contents");
    connectTo(*site_, job_, QString());
    site_->enterFolder(remote_);

    std::int64_t lastReceived = -1;
    site_->onProgress = [&](std::int64_t received) {
        EXPECT_GE(received, lastReceived);
        lastReceived = received;
    };
    site_->retrieve("data.bin", local_ + "/data.bin", false);
    EXPECT_TRUE(test::ReadFile(local_ + "/data.bin") == bytes);
    EXPECT_EQ(lastReceived, static_cast<std::int64_t>(bytes.size()));
    site_->onProgress = nullptr;

    const auto expectRefused = [&](const std::string& name) {
        SCOPED_TRACE(name);
        try {
            site_->retrieve(name, local_ + "/" + name, false);
            ADD_FAILURE() << "retrieved";
        } catch (const SiteError& e) {
            EXPECT_EQ(e.kind(), SiteError::Kind::Refused) << e.what();
        }
        EXPECT_TRUE(site_->connected());
    };
    // Overwrite off keeps the file there; a missing remote file skips.
    expectRefused("new.txt");
    EXPECT_EQ(test::ReadFile(local_ + "/new.txt"), "old contents");
    expectRefused("gone.txt");
    // A file the server may not read (root reads everything).
    if (::geteuid() != 0) {
        test::WriteFile(remote_ + "/locked.txt", "locked");
        ASSERT_EQ(::chmod((remote_ + "/locked.txt").c_str(), 0), 0);
        expectRefused("locked.txt");
    }
    EXPECT_EQ(test::FolderNames(local_), (std::vector<std::string> { "data.bin", "new.txt" }))
        << "a temporary was left behind";

    site_->retrieve("new.txt", local_ + "/new.txt", true);
    EXPECT_EQ(test::ReadFile(local_ + "/new.txt"), "new contents");
    EXPECT_EQ(disconnects_, 0);
}

TEST_F(SftpSiteAgainstSshd, StopFromThePumpEndsTheFileWithinASecond)
{
    // A large sparse file read in small steps: far from done when stopped.
    const std::string big = remote_ + "/big.bin";
    ASSERT_NO_FATAL_FAILURE(test::MakeSparseFile(big, 1LL << 34));
    sftp::TSftpLimits limits;
    limits.ReadRequestSize = 4096;
    limits.ReadRequestsInFlight = 1;
    site_ = std::make_unique<SftpSite>(
        [this] {
            if (pump_)
                pump_();
        },
        limits);
    site_->onDisconnected = [this] { ++disconnects_; };
    connectTo(*site_, job_, QString());
    site_->enterFolder(remote_);
    std::int64_t received = 0;
    site_->onProgress = [&](std::int64_t bytes) { received = bytes; };
    std::optional<std::chrono::steady_clock::time_point> stopped;
    bool triedConnect = false;
    pump_ = [&] {
        EXPECT_TRUE(site_->blocked());
        // A connect reached from the pump leaves the waiting download alone.
        if (!std::exchange(triedConnect, true)) {
            try {
                connectTo(*site_, job_, QString());
                ADD_FAILURE() << "connected while a download waits";
            } catch (const SiteError& e) {
                EXPECT_EQ(e.kind(), SiteError::Kind::Connection) << e.what();
            }
            EXPECT_TRUE(site_->connected());
        }
        if (received > 0 && !stopped) {
            stopped = std::chrono::steady_clock::now();
            site_->abort();
        }
    };
    try {
        site_->retrieve("big.bin", local_ + "/big.bin", true);
        FAIL() << "retrieved";
    } catch (const SiteError& e) {
        EXPECT_EQ(e.kind(), SiteError::Kind::Aborted) << e.what();
    }
    ASSERT_TRUE(stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - *stopped, 1s);
    EXPECT_FALSE(site_->blocked());
    EXPECT_FALSE(site_->connected());
    EXPECT_EQ(disconnects_, 1);
    EXPECT_TRUE(test::FolderNames(local_).empty()) << "a temporary was left behind";
}

// The scripted server signs in with a password and serves its folder as "/".
class SftpSiteFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::WriteFile(server_.Root() + "/denied.bin", "secret");
        test::WriteFile(server_.Root() + "/drop.bin", std::string(1 << 20, 'd'));
        local_ = server_.Root() + "/../local";
        ::mkdir(local_.c_str(), 0755);
        SshEnvironment::Home(server_.Root() + "/../home", std::nullopt);
        job_.protocol = JobSettings::Protocol::Sftp;
        job_.host = QStringLiteral("127.0.0.1");
        job_.port = QString::number(server_.Port());
        job_.userName = QStringLiteral("user");
        job_.password = QStringLiteral("pw");
        site_.onDisconnected = [this] { ++disconnects_; };
    }

    SshEnvironment environment_;
    test::ScriptedSftpServer server_ { "password", "pw" };
    SftpSite site_ { {} };
    JobSettings job_;
    std::string local_;
    int disconnects_ = 0;
};

// An entry listed without its permissions has no known type: it is not taken
// for a plain file, and the log says why.
TEST_F(SftpSiteFaults, AnEntryWithoutPermissionsIsSkippedWithAReason)
{
    test::WriteFile(server_.Root() + "/data.noperm", "data");
    connectTo(site_, job_, QString::fromStdString(server_.HostKeyFingerprint()));
    QStringList logged;
    const RemoteListing listing = site_.list(job_, [&](const QString& line) { logged << line; });
    const auto entry = std::find_if(listing.entries.begin(), listing.entries.end(),
        [](const RemoteEntry& e) { return e.name == "data.noperm"; });
    ASSERT_NE(entry, listing.entries.end());
    EXPECT_FALSE(entry->plainFile);
    EXPECT_EQ(entry->kindName, "unknown");
    EXPECT_EQ(logged,
        QStringList { QStringLiteral("WARNING: \"data.noperm\" is skipped: the server listed it without its "
                                     "permissions, so it is not known to be a plain file.") });
}

TEST_F(SftpSiteFaults, RefusedFileSkipsAndABrokenConnectionIsTold)
{
    const SiteConnected result = connectTo(site_, job_, QString::fromStdString(server_.HostKeyFingerprint()));
    EXPECT_EQ(result.logLines, QStringList { QStringLiteral("Signed in with the password.") });
    EXPECT_EQ(site_.identity()->verification, QStringLiteral("trusted (kept with the job)"));
    site_.enterFolder("/");

    const struct {
        const char* name;
        SiteError::Kind kind;
        bool stillConnected;
    } cases[] = {
        { "denied.bin", SiteError::Kind::Refused, true },
        { "drop.bin", SiteError::Kind::Connection, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            site_.retrieve(c.name, local_ + "/" + c.name, true);
            ADD_FAILURE() << "retrieved";
        } catch (const SiteError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
        }
        EXPECT_EQ(site_.connected(), c.stillConnected);
        EXPECT_EQ(disconnects_, c.stillConnected ? 0 : 1);
        EXPECT_TRUE(test::FolderNames(local_).empty()) << "a temporary was left behind";
    }
    site_.disconnect();
    EXPECT_EQ(disconnects_, 1);
}

} // namespace
} // namespace taskhaul
