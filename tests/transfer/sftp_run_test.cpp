// Runs of the job over SFTP: the transfer engine with the SFTP site against a
// real OpenSSH server (and the scripted server for the faults a real one does
// not produce), as the window and the scheduler drive it.
#include "fake_transfer_host.h"
#include "log/silent_stop.h"
#include "scheduler/engine_run_steps.h"
#include "sftp/sftp_client.h"
#include "sftp/sshd_server.h"
#include "site/protocol_sites.h"
#include "site/sftp_site.h"
#include "transfer/asking_connect.h"
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace taskhaul::test {
namespace {

using namespace std::chrono_literals;

std::int64_t modified(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_mtime) : -1;
}

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// The engine with an SFTP site on the test's sshd: a remote folder, an empty
// local folder, a home that knows the server's key, and the key file "plain".
class SftpRun : public SshdTest {
protected:
    void SetUp() override
    {
        SshdTest::SetUp();
        SshEnvironment::Home(folder_ + "/home", server_->KnownHostsLine());
        JobSettings& job = host.settings;
        job.protocol = JobSettings::Protocol::Sftp;
        job.host = QStringLiteral("127.0.0.1");
        job.port = QString::number(server_->Port());
        job.userName = q(server_->User());
        job.keyFile = q(server_->KeyPath("plain"));
        job.remoteFolder = q(remote_);
        job.localFolder = q(local_);
        job.fileKind = JobSettings::FileKind::AllFiles;
        job.overwrite = true;
        useSite(sftp::TSftpLimits {});
    }

    void TearDown() override
    {
        engine.reset();
        site.reset();
    }

    // A new site (with these limits) and an engine on it.
    void useSite(const sftp::TSftpLimits& limits)
    {
        engine.reset();
        site = std::make_unique<SftpSite>(
            [this] {
                if (pump)
                    pump();
            },
            limits);
        engine = std::make_unique<TransferEngine>(host, *site, QStringLiteral(","));
    }

    // An unattended run of the job: connect, enter the folder, transfer, disconnect.
    void runJob()
    {
        engine->siteConnect();
        engine->changeFolder();
        engine->transfer();
        engine->disconnectSite();
    }

    // A user's connect as the window makes it: a box opens only once the
    // connect has returned and the site waits for nothing.
    void askingConnect()
    {
        engine->setUnattended(false);
        connectsRun = 0;
        host.boxes.onShow = [this] {
            EXPECT_FALSE(engine->connecting() || site->blocked()) << "a box opened inside the connect";
        };
        try {
            taskhaul::askingConnect(*engine, host.boxes, [this] {
                ++connectsRun;
                engine->siteConnect();
            });
        } catch (...) {
            host.boxes.onShow = nullptr;
            engine->setUnattended(true);
            throw;
        }
        host.boxes.onShow = nullptr;
        engine->setUnattended(true);
    }

    std::string remote(const std::string& name) const { return remote_ + "/" + name; }
    std::string local(const std::string& name) const { return local_ + "/" + name; }
    QString transferring(const std::string& name, const std::string& localName) const
    {
        return QStringLiteral("Transferring sftp://127.0.0.1:") + QString::number(server_->Port())
            + q(remote_) + QLatin1Char('/') + q(name) + QStringLiteral(" => ") + q(local(localName));
    }
    QString logText() const { return host.log.join(QLatin1Char('\n')); }

    SshEnvironment environment_;
    FakeTransferHost host;
    std::function<void()> pump;
    std::unique_ptr<SftpSite> site;
    std::unique_ptr<TransferEngine> engine;
    int connectsRun = 0;
};

TEST_F(SftpRun, AllFilesArriveByteForByteAndTheLogTellsTheRun)
{
    const struct {
        const char* name;
        std::string bytes;
        const char* count; // as the completion line groups it
    } files[] = {
        { "notes.txt", "hello over ssh\n", "15" },
        { "large.bin", PatternBytes((5u << 20) / 2 + 123, 1), "2,621,563" },
        { "empty.dat", "", "0" },
        { "odd name (1).csv", PatternBytes(70000, 2), "70,000" },
    };
    for (const auto& f : files)
        WriteFile(remote(f.name), f.bytes);
    ASSERT_EQ(::mkdir(remote("sub").c_str(), 0755), 0);
    WriteFile(remote("sub/inner.txt"), "not fetched");

    runJob();

    const RunReport& report = engine->lastRun();
    EXPECT_TRUE(report.complete()) << logText().toStdString();
    EXPECT_EQ(report.fetched, 4);
    std::vector<std::string> expectedNames;
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(ReadFile(local(f.name)) == f.bytes);
        expectedNames.push_back(f.name);
        // Each file: its line, then its completion right after it.
        const qsizetype at = host.log.indexOf(transferring(f.name, f.name));
        ASSERT_GE(at, 0) << logText().toStdString();
        ASSERT_LT(at + 1, host.log.size());
        EXPECT_EQ(host.log[at + 1], QStringLiteral("Data transfer complete (%1 Bytes)").arg(f.count));
    }
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(FolderNames(local_), expectedNames) << "a temporary or a folder was left";

    // Sign-in, connection and folder come first, the end of the connection last.
    const QString user = q(server_->User());
    ASSERT_GE(host.log.size(), 3 + 2 * 4 + 1);
    EXPECT_EQ(host.log.mid(0, 3),
        (QStringList { QStringLiteral("Signed in with the key file."),
            user + QStringLiteral(" connected to 127.0.0.1"),
            QStringLiteral("Current folder is ") + q(remote_) }));
    EXPECT_EQ(host.log.last(), user + QStringLiteral(" disconnected from 127.0.0.1"));
    EXPECT_EQ(host.log.count(host.log.last()), 1);
    EXPECT_FALSE(site->connected());
}

TEST_F(SftpRun, OneFileFollowsTheNameTemplateAndTheRename)
{
    // The host's clock is 2024-03-15.
    WriteFile(remote("report-20240315.csv"), "today");
    WriteFile(remote("report-20240314.csv"), "yesterday");
    WriteFile(remote("other.txt"), "other");
    JobSettings& job = host.settings;
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("report-[yyyy][MM][dd].csv");
    job.rename = true;
    job.renameTo = QStringLiteral("latest.csv");

    runJob();

    EXPECT_TRUE(engine->lastRun().complete()) << logText().toStdString();
    EXPECT_EQ(FolderNames(local_), std::vector<std::string> { "latest.csv" });
    EXPECT_EQ(ReadFile(local("latest.csv")), "today");
    EXPECT_TRUE(host.log.contains(transferring("report-20240315.csv", "latest.csv")))
        << logText().toStdString();
    EXPECT_TRUE(host.log.contains(QStringLiteral("Data transfer complete (5 Bytes)")));

    // A template that matches nothing fetches nothing, and says so.
    job.fileName = QStringLiteral("report-1999*.csv");
    job.rename = false;
    runJob();
    EXPECT_TRUE(engine->lastRun().nothingMatched);
    EXPECT_TRUE(host.log.contains(QStringLiteral("No file on the site matches \"report-1999*.csv\".")))
        << logText().toStdString();
}

TEST_F(SftpRun, OnlyNewerKeepsTheRemoteTimeAndFetchesOnlyWhatChanged)
{
    host.now = CurrentLocalDateTime();
    host.settings.onlyNewer = true;
    WriteFile(remote("a.txt"), "first a");
    WriteFile(remote("b.txt"), "first b");
    SetFileTime(remote("a.txt"), kFixedTime);
    SetFileTime(remote("b.txt"), kFixedTime + 61);

    runJob();
    EXPECT_EQ(engine->lastRun().fetched, 2) << logText().toStdString();
    EXPECT_EQ(modified(local("a.txt")), kFixedTime);
    EXPECT_EQ(modified(local("b.txt")), kFixedTime + 61);

    // Nothing changed: nothing comes.
    host.log.clear();
    runJob();
    EXPECT_EQ(engine->lastRun().fetched, 0) << logText().toStdString();
    EXPECT_TRUE(engine->lastRun().complete());
    EXPECT_EQ(engine->lastRun().passedOver.size(), 2u);
    EXPECT_TRUE(host.log.contains(QStringLiteral("2 file(s) not changed since the last transfer.")))
        << logText().toStdString();
    EXPECT_FALSE(logText().contains(QStringLiteral("Transferring"))) << logText().toStdString();

    // One file changes on the server (same size, a later time): only it comes.
    WriteFile(remote("b.txt"), "newer b");
    SetFileTime(remote("b.txt"), kFixedTime + 3600);
    host.log.clear();
    runJob();
    EXPECT_EQ(engine->lastRun().fetchedNames, std::vector<std::string> { "b.txt" })
        << logText().toStdString();
    EXPECT_EQ(ReadFile(local("b.txt")), "newer b");
    EXPECT_EQ(modified(local("b.txt")), kFixedTime + 3600);
    EXPECT_EQ(ReadFile(local("a.txt")), "first a");
}

TEST_F(SftpRun, AFileModifiedJustNowIsPassedOverUntilItSettles)
{
    host.now = CurrentLocalDateTime();
    host.settings.settleSeconds = 60;
    WriteFile(remote("old.log"), "settled");
    SetFileTime(remote("old.log"), kFixedTime);
    WriteFile(remote("fresh.log"), "still growing");

    runJob();

    const RunReport& report = engine->lastRun();
    EXPECT_EQ(report.fetchedNames, std::vector<std::string> { "old.log" }) << logText().toStdString();
    ASSERT_EQ(report.passedOver.size(), 1u);
    EXPECT_EQ(report.passedOver[0].remoteName, "fresh.log");
    EXPECT_EQ(report.passedOver[0].reason, QStringLiteral("The file is still being written."));
    EXPECT_TRUE(report.complete()) << "a file left for later is no failure";
    EXPECT_TRUE(host.log.contains(QStringLiteral("WARNING: File skipped: The file is still being written.")))
        << logText().toStdString();
    EXPECT_EQ(FolderNames(local_), std::vector<std::string> { "old.log" });
}

TEST_F(SftpRun, StopFromThePumpEndsTheFileWithinASecond)
{
    // A large sparse file read in small steps: far from done when stopped.
    ASSERT_NO_FATAL_FAILURE(MakeSparseFile(remote("big.bin"), 1LL << 34));
    WriteFile(remote("zz-after.txt"), "never reached");
    sftp::TSftpLimits limits;
    limits.ReadRequestSize = 4096;
    limits.ReadRequestsInFlight = 1;
    useSite(limits);
    std::int64_t received = 0;
    TransferEvents events;
    events.progress = [&](std::int64_t bytes) { received = bytes; };
    engine->setEvents(std::move(events));
    std::optional<std::chrono::steady_clock::time_point> stopped;
    pump = [&] {
        if (received > 0 && !stopped) {
            stopped = std::chrono::steady_clock::now();
            engine->stopTransferCommand();
        }
    };
    engine->siteConnect();
    engine->changeFolder();
    host.settings.fileKind = JobSettings::FileKind::OneFile;
    host.settings.fileName = QStringLiteral("big.bin");
    EXPECT_NO_THROW(engine->transfer());

    ASSERT_TRUE(stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - *stopped, 1s);
    EXPECT_TRUE(engine->lastRun().aborted);
    EXPECT_EQ(engine->lastRun().fetched, 0);
    EXPECT_TRUE(host.log.contains(QStringLiteral("Operation aborted"))) << logText().toStdString();
    EXPECT_TRUE(FolderNames(local_).empty()) << "a temporary was left behind";
    EXPECT_FALSE(site->connected());
    EXPECT_FALSE(site->blocked());
    EXPECT_EQ(host.log.count(q(server_->User()) + QStringLiteral(" disconnected from 127.0.0.1")), 1)
        << logText().toStdString();
}

TEST_F(SftpRun, AMissingRemoteFolderFailsTheRun)
{
    host.settings.remoteFolder = q(remote("gone"));
    engine->siteConnect();
    EXPECT_THROW(engine->changeFolder(), SilentStop);
    EXPECT_TRUE(host.log.contains(QStringLiteral(
        "ERROR: The remote folder specified does not exist or cannot be accessed at this time.")))
        << logText().toStdString();
    const RunReport& report = engine->lastRun();
    EXPECT_TRUE(report.connected);
    EXPECT_FALSE(report.folderEntered);
    EXPECT_TRUE(report.failure.contains(q(remote("gone")))) << report.failure.toStdString();
    EXPECT_TRUE(report.failed());
    // The server answered: trying again later would find the same.
    EXPECT_FALSE(report.lostConnection());
    EXPECT_FALSE(site->connected());
}

// ---- The host key, as a user's Connect and an unattended run meet it ----

TEST_F(SftpRun, AnUnknownKeyIsAskedAboutWithNoAsTheDefaultAnswer)
{
    SshEnvironment::Home(folder_ + "/home", std::nullopt);
    const QString fingerprint = q(server_->HostKeyFingerprint());
    host.boxes.answerNext(MessageBoxes::Answer::No);

    EXPECT_THROW(askingConnect(), SilentStop);

    ASSERT_EQ(host.boxes.shown().size(), 1u);
    const auto& box = host.boxes.shown()[0];
    EXPECT_EQ(box.kind, RecordingMessageBoxes::Kind::Confirmation);
    EXPECT_EQ(box.defaultButton, QStringLiteral("No"));
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 4) << box.text.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("The server's host key is not known."));
    EXPECT_EQ(lines[2], QStringLiteral("Key type: ") + q(server_->HostKeyType()));
    EXPECT_EQ(lines[3], QStringLiteral("SHA-256 fingerprint: ") + fingerprint);
    // The question names the host, and the port that is not SSH's usual one.
    EXPECT_TRUE(box.text.contains(
        QStringLiteral("Trust this host key for 127.0.0.1:%1 from now on?").arg(server_->Port())))
        << box.text.toStdString();
    // "No" trusts nothing and connects nowhere.
    EXPECT_EQ(connectsRun, 1);
    EXPECT_TRUE(host.settings.trustedHostKey.isEmpty());
    EXPECT_TRUE(host.trustedHostKeys.isEmpty());
    EXPECT_FALSE(site->connected());
    EXPECT_EQ(host.status, QStringLiteral("Not connected: the server's host key was not trusted."));
    EXPECT_TRUE(host.log.last().startsWith(QStringLiteral("Reason: "))) << logText().toStdString();
}

TEST_F(SftpRun, ATrustedKeyIsKeptWithTheJobAndLaterRunsUseIt)
{
    SshEnvironment::Home(folder_ + "/home", std::nullopt);
    const QString fingerprint = q(server_->HostKeyFingerprint());
    host.boxes.answerNext(MessageBoxes::Answer::Yes);

    askingConnect();

    EXPECT_EQ(host.boxes.shown().size(), 1u);
    EXPECT_EQ(connectsRun, 2) << "the yes starts the connect again";
    EXPECT_TRUE(site->connected());
    EXPECT_EQ(host.trustedHostKeys, QStringList { fingerprint });
    EXPECT_EQ(host.settings.trustedHostKey, fingerprint);
    EXPECT_TRUE(host.settings.trustedCertificate.isEmpty());
    EXPECT_TRUE(host.log.contains(QStringLiteral("Trusted the server's host key ") + fingerprint));
    EXPECT_EQ(site->identity()->verification, QStringLiteral("trusted (kept with the job)"));

    // An unattended run with the job's key: no question, and the files come.
    WriteFile(remote("a.txt"), "alpha");
    host.boxes.clear();
    runJob();
    EXPECT_TRUE(host.boxes.shown().empty());
    EXPECT_EQ(ReadFile(local("a.txt")), "alpha");
    EXPECT_TRUE(engine->lastRun().complete()) << logText().toStdString();
}

TEST_F(SftpRun, AnUnattendedRunNeverAsksAndLogsTheFingerprint)
{
    SshEnvironment::Home(folder_ + "/home", std::nullopt);
    const QString fingerprint = q(server_->HostKeyFingerprint());
    EXPECT_THROW(engine->siteConnect(), SilentStop);
    EXPECT_TRUE(host.boxes.shown().empty());
    EXPECT_FALSE(engine->takeNotice());
    ASSERT_GE(host.log.size(), 2);
    EXPECT_EQ(host.log[host.log.size() - 2],
        QStringLiteral("ERROR: The FTP site information specified is not valid or the site cannot be "
                       "accessed at this time."));
    EXPECT_TRUE(host.log.last().startsWith(QStringLiteral("Reason: ")));
    EXPECT_TRUE(host.log.last().contains(fingerprint)) << host.log.last().toStdString();
    EXPECT_TRUE(host.trustedHostKeys.isEmpty());
    EXPECT_FALSE(site->connected());
}

TEST_F(SftpRun, AChangedKeyIsRefusedWithAWarningAndNeverAsked)
{
    const QString fingerprint = q(server_->HostKeyFingerprint());
    const std::string line = server_->KnownHostsLine();
    const struct {
        const char* name;
        std::optional<std::string> knownHosts;
        QString trusted;
        const char* logged = "The server's host key has changed";
        const char* shown = "The server's host key has changed";
    } cases[] = {
        { "known_hosts has another key", server_->KnownHostsLineWithOtherKey(), QString() },
        { "the job trusts another key", std::nullopt,
            QStringLiteral("SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA") },
        // Refused as a changed key is, with a reason of its own.
        { "the job trusts a key known_hosts revokes", "@revoked * " + line.substr(line.find(' ') + 1),
            fingerprint, "The server's host key is revoked", "The server's host key is revoked" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SshEnvironment::Home(folder_ + "/home", c.knownHosts);
        host.settings.trustedHostKey = c.trusted;
        host.boxes.clear();
        host.log.clear();
        host.boxes.setDefaultAnswer(MessageBoxes::Answer::Yes);

        EXPECT_THROW(askingConnect(), SilentStop);

        ASSERT_EQ(host.boxes.shown().size(), 1u);
        const auto& box = host.boxes.shown()[0];
        EXPECT_EQ(box.kind, RecordingMessageBoxes::Kind::Warning);
        EXPECT_EQ(box.caption, QStringLiteral("Taskhaul Warning"));
        EXPECT_TRUE(box.text.startsWith(QLatin1String(c.shown))) << box.text.toStdString();
        EXPECT_TRUE(box.text.contains(QStringLiteral("127.0.0.1")));
        EXPECT_TRUE(box.text.contains(fingerprint)) << box.text.toStdString();
        EXPECT_EQ(connectsRun, 1);
        EXPECT_TRUE(host.trustedHostKeys.isEmpty());
        EXPECT_EQ(host.settings.trustedHostKey, c.trusted);
        EXPECT_TRUE(host.log.last().contains(QLatin1String(c.logged))) << host.log.last().toStdString();
        EXPECT_FALSE(site->connected());

        // An unattended run fails with the reason, and asks nothing.
        host.boxes.clear();
        EXPECT_THROW(engine->siteConnect(), SilentStop);
        EXPECT_TRUE(host.boxes.shown().empty());
        EXPECT_TRUE(host.log.last().startsWith(QStringLiteral("Reason: ") + QLatin1String(c.logged)))
            << host.log.last().toStdString();
    }
}

// ---- Faults a real server does not produce (the scripted server) ----

// A job on the scripted server ("user", "pw", its key trusted), from its root
// into the empty folder `local`, made beside it, with a home of its own.
JobSettings scriptedJob(const ScriptedSftpServer& server, const std::string& local)
{
    EXPECT_EQ(::mkdir(local.c_str(), 0755), 0);
    SshEnvironment::Home(server.Root() + "/../home", std::nullopt);
    JobSettings job;
    job.protocol = JobSettings::Protocol::Sftp;
    job.host = QStringLiteral("127.0.0.1");
    job.port = QString::number(server.Port());
    job.userName = QStringLiteral("user");
    job.password = QStringLiteral("pw");
    job.trustedHostKey = q(server.HostKeyFingerprint());
    job.remoteFolder = QStringLiteral("/");
    job.localFolder = q(local);
    return job;
}

TEST(SftpRunFaults, ARefusedFileIsSkippedAndADroppedConnectionIsALostOne)
{
    SshEnvironment environment;
    ScriptedSftpServer server("password", "pw");
    WriteFile(server.Root() + "/a-first.txt", "first");
    WriteFile(server.Root() + "/denied.bin", "secret");
    WriteFile(server.Root() + "/drop.bin", std::string(1 << 20, 'd'));
    WriteFile(server.Root() + "/z-last.txt", "last");
    const std::string local = server.Root() + "/../local";
    FakeTransferHost host;
    host.settings = scriptedJob(server, local);
    host.settings.fileKind = JobSettings::FileKind::OneFile;
    SftpSite site({});
    TransferEngine engine(host, site, QStringLiteral(","));
    EngineRunSteps steps(engine);

    // A file the server refuses: skipped, the connection goes on.
    engine.siteConnect();
    EXPECT_TRUE(host.log.contains(QStringLiteral("Signed in with the password.")));
    engine.changeFolder();
    host.settings.fileName = QStringLiteral("denied.bin");
    engine.transfer();
    RunReport report = engine.lastRun();
    ASSERT_EQ(report.skipped.size(), 1u);
    EXPECT_EQ(report.skipped[0].remoteName, "denied.bin");
    EXPECT_FALSE(report.skipped[0].reason.isEmpty());
    EXPECT_TRUE(host.log.last().startsWith(QStringLiteral("Warning! File Skipped: ")))
        << host.log.last().toStdString();
    EXPECT_FALSE(report.lostConnection());
    EXPECT_FALSE(steps.lostConnection());
    EXPECT_TRUE(site.connected());

    // All files: the readable ones come, the refused one is skipped, the
    // connection breaks in drop.bin. A lost connection, which a retry makes good.
    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    host.log.clear();
    engine.transfer();
    report = engine.lastRun();
    EXPECT_EQ(ReadFile(local + "/a-first.txt"), "first");
    EXPECT_TRUE(report.connectionBroke) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(report.lostConnection());
    EXPECT_TRUE(steps.lostConnection()) << "a retry would not follow";
    EXPECT_TRUE(report.failed());
    EXPECT_FALSE(site.connected());
    EXPECT_TRUE(host.log.contains(QStringLiteral("user disconnected from 127.0.0.1")));
    // The listing's order decides whether z-last.txt came before the break.
    std::vector<std::string> fetched = report.fetchedNames;
    std::sort(fetched.begin(), fetched.end());
    EXPECT_EQ(FolderNames(local), fetched) << "a temporary was left";
    EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "a-first.txt"), 1);
    EXPECT_EQ(std::count(fetched.begin(), fetched.end(), "drop.bin"), 0);
}

// ---- Several connections to a hostile server ----

// A run over 4 or 8 connections to a server that cuts, hangs up on or waits
// forever at a stage of the first connection or of the further ones: no run
// hangs, no file holds bytes other than its source's, and what the
// connections left is fetched by the others.
TEST(SftpRunHostile, SeveralConnectionsCutAtAnyStageNeverMixFilesOrHang)
{
    const struct {
        const char* fault;
        bool allFetched; // else: nothing need be fetched, but what is must be whole
    } faults[] = { { "kex:cut:2-", true }, { "auth:cut:2-", true }, { "auth-try:hangup:2-", true },
        { "channel:cut:2-", true }, { "sftp:stall:2-", true }, { "file:cut:2-", true },
        { "file:cut:1", true }, { "listing:cut:1", false }, { "file:hangup", false } };
    constexpr int kFiles = 24;
    for (const int connections : { 4, 8 }) {
        for (const auto& f : faults) {
            SCOPED_TRACE(std::string(f.fault) + " over " + std::to_string(connections));
            SshEnvironment environment;
            ScriptedSftpServer server("password", "pw", { f.fault });
            std::vector<std::string> sources;
            for (int n = 0; n < kFiles; ++n) {
                sources.push_back(PatternBytes(1000 + 9000 * static_cast<std::size_t>(n), 100 + n));
                WriteFile(server.Root() + "/f" + std::to_string(100 + n), sources.back());
            }
            const std::string local = server.Root() + "/../local";
            FakeTransferHost host;
            host.settings = scriptedJob(server, local);
            host.settings.fileKind = JobSettings::FileKind::AllFiles;
            host.settings.overwrite = true;
            host.settings.connections = connections;
            // The first connection goes slowly, so that the others take files.
            class SlowSite : public SftpSite {
            public:
                using SftpSite::SftpSite;
                void retrieve(const std::string& name, const std::string& path, bool overwrite) override
                {
                    std::this_thread::sleep_for(20ms);
                    SftpSite::retrieve(name, path, overwrite);
                }
            };
            ProtocolSites sites { nullptr, [] { return std::make_unique<SlowSite>([] {}); },
                [](const JobSettings&, std::function<void()> pump) {
                    return std::make_unique<SftpSite>(std::move(pump));
                } };
            TransferEngine engine { host, sites, QStringLiteral(",") };
            const auto started = std::chrono::steady_clock::now();
            try {
                engine.siteConnect();
                engine.changeFolder();
                engine.transfer();
            } catch (const std::exception&) {
                // A failed connect or listing: what follows checks the files.
            }
            engine.disconnectSite();
            EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);

            const std::string logged = host.log.join(QLatin1Char('\n')).toStdString();
            std::vector<std::string> names = FolderNames(local);
            for (const std::string& name : names) {
                const int n = name.size() == 4 && name[0] == 'f' ? std::stoi(name.substr(1)) - 100 : -1;
                ASSERT_TRUE(n >= 0 && n < kFiles) << "not a file of the server: " << name << "\n" << logged;
                EXPECT_TRUE(ReadFile(local + "/" + name) == sources[static_cast<std::size_t>(n)])
                    << name << " holds other bytes than its source's\n"
                    << logged;
            }
            if (f.allFetched) {
                EXPECT_EQ(names.size(), static_cast<std::size_t>(kFiles)) << logged;
                EXPECT_TRUE(engine.lastRun().complete()) << logged;
            }
        }
    }
}

} // namespace
} // namespace taskhaul::test
