// A run over several connections at once: the files arrive whole, the log
// tells of each, a server that takes fewer connections, a connection lost
// mid-file, Stop, and the jobs that must keep to one connection.

#include "connections_fixture.h"
#include "ftp/pyftpd_server.h"
#include "ftp/scripted_ftp_server.h"
#include "ftp/tls_servers.h"
#include "sftp/sshd_server.h"
#include "site/ftp_site.h"
#include "site/protocol_sites.h"
#include "site/sftp_site.h"
#include "transfer/freshness.h"
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace taskhaul::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ConnectionsTest, FilesComeWholeOverFourConnections)
{
    serveFiles(24);
    // Slow downloads, so that the connections overlap.
    DataPlan slow;
    slow.chunkSize = 400;
    slow.chunkDelay = 5ms;
    for (int n = 0; n < 24; ++n)
        server.setDataPlan(nameOf(n), slow);
    std::vector<RunProgress> progress;
    TransferEvents events;
    events.runProgress = [&](const RunProgress& p) { progress.push_back(p); };
    engine.setEvents(events);
    run();
    expectAllFetched(24);
    EXPECT_EQ(server.mostSessionsAtOnce(), 4);
    EXPECT_EQ(engine.lastRun().connections, 4);
    // Four logins, and every file asked for once; no SIZE: the listing's sizes
    // are taken, and each download is checked against them.
    EXPECT_EQ(server.argumentsOf("PASS").size(), 4u);
    EXPECT_EQ(server.argumentsOf("RETR").size(), 24u);
    EXPECT_TRUE(server.argumentsOf("SIZE").empty());
    EXPECT_FALSE(host.log.join('\n').contains(QStringLiteral("accepted only")));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().filesDone, 24);
    EXPECT_EQ(progress.back().filesTotal, 24);
    EXPECT_EQ(progress.back().bytesDone, progress.back().bytesTotal);
}

// Each download is checked against the listing's size. Bytes other than the
// listing's after a clean end make the engine ask SIZE: a file that changed
// since the listing is fetched again against that answer; a transfer that fell
// short of a size SIZE confirms is skipped, and nothing is left behind.
TEST_F(ConnectionsTest, ADownloadThatDisagreesWithTheListingIsCheckedWithSize)
{
    struct Case {
        const char* what;
        std::size_t listed; // the listing's (and, when short, SIZE's) size of f101
        std::string content; // what SIZE and RETR serve now
        std::optional<std::string> sent; // what RETR sends, when not all of it
        bool fetched;
    };
    const std::string grown(8192, 'g');
    const Case cases[] = {
        { "changed since the listing", 4096, grown, std::nullopt, true },
        { "short", contentOf(1).size(), contentOf(1), contentOf(1).substr(0, contentOf(1).size() - 5),
            false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const QString& file : localFiles())
            QFile::remove(local.path() + QLatin1Char('/') + file);
        serveFiles(3);
        server.addFile(nameOf(1), c.content);
        DataPlan unannounced;
        unannounced.preliminary = "150 Opening BINARY mode data connection.\r\n";
        unannounced.bytes = c.sent;
        server.setDataPlan(nameOf(1), unannounced);
        server.setListing(unixLine(nameOf(0), contentOf(0).size()) + unixLine(nameOf(1), c.listed)
            + unixLine(nameOf(2), contentOf(2).size()));
        const std::size_t sizesBefore = server.argumentsOf("SIZE").size();
        run();
        EXPECT_EQ(server.argumentsOf("SIZE").size(), sizesBefore + 1);
        if (c.fetched) {
            EXPECT_EQ(engine.lastRun().fetched, 3);
            EXPECT_TRUE(engine.lastRun().skipped.empty());
            EXPECT_EQ(localContent(nameOf(1)), QByteArray::fromStdString(c.content));
            EXPECT_EQ(localFiles().size(), 3);
            continue;
        }
        EXPECT_EQ(engine.lastRun().fetched, 2);
        ASSERT_EQ(engine.lastRun().skipped.size(), 1u);
        EXPECT_EQ(engine.lastRun().skipped.front().remoteName, nameOf(1));
        EXPECT_EQ(localFiles(),
            (QStringList { QString::fromStdString(nameOf(0)), QString::fromStdString(nameOf(2)) }));
    }
}

TEST_F(ConnectionsTest, AServerThatTakesOnlyTwoConnectionsFailsNoFile)
{
    server.serveConcurrently(2, "421 Too many connections (2) from this IP\r\n");
    serveFiles(12);
    run();
    expectAllFetched(12);
    EXPECT_EQ(engine.lastRun().connections, 2);
    EXPECT_EQ(host.log.filter(QStringLiteral("The server accepted only 2 connection(s).")).size(), 1);
    EXPECT_TRUE(engine.lastRun().skipped.empty());
}

TEST_F(ConnectionsTest, ARefusedLoginLeavesTheRunToTheOthers)
{
    // 530 for every login after the first two.
    std::atomic<int> logins { 0 };
    server.on("PASS", [&logins](FtpSession& s, const std::string&) {
        s.send(++logins <= 2 ? "230 Logged in.\r\n"
                             : "530 Sorry, the maximum number of clients is reached.\r\n");
    });
    serveFiles(8);
    run();
    expectAllFetched(8);
    EXPECT_EQ(host.log.filter(QStringLiteral("The server accepted only 2 connection(s).")).size(), 1);
}

TEST_F(ConnectionsTest, ALoginThatNeverEndsIsNotWaitedForOnceTheFilesAreIn)
{
    // Every login after the first waits twenty seconds for its answer.
    std::atomic<int> users { 0 };
    server.on("USER", [&users](FtpSession& s, const std::string&) {
        if (++users > 1)
            s.sleep(20s);
        s.send("331 Password required.\r\n");
    });
    serveFiles(4);
    const auto started = std::chrono::steady_clock::now();
    run();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    expectAllFetched(4);
    EXPECT_EQ(engine.lastRun().connections, 1);
}

TEST_F(ConnectionsTest, EveryConnectionLostCountsAsALostConnection)
{
    serveFiles(6);
    server.closeOn("RETR");
    run();
    EXPECT_EQ(engine.lastRun().fetched, 0);
    EXPECT_TRUE(engine.lastRun().connectionBroke);
    EXPECT_TRUE(engine.lastRun().lostConnection());
    EXPECT_EQ(engine.lastRun().skipped.size(), 6u);
    EXPECT_TRUE(localFiles().isEmpty());
    // One skip line for each file, naming it, after a line that began it.
    for (int n = 0; n < 6; ++n) {
        const QString name = QString::fromStdString(nameOf(n));
        const QStringList skips
            = host.log.filter(QStringLiteral("WARNING: File skipped: ") + name + QStringLiteral(": "));
        ASSERT_EQ(skips.size(), 1) << nameOf(n);
        EXPECT_LT(
            host.log.indexOf(transferringLines().filter(name).value(0)), host.log.indexOf(skips.front()));
    }
}

// Stop Transfer, and a termination signal as --run-once sees it (the engine's
// stop condition, and a pump that stops the site at work).
TEST_F(ConnectionsTest, StopEndsEveryConnectionAndLeavesNoTemporary)
{
    serveFiles(12);
    DataPlan stall;
    stall.bytes = std::string(500, 'x');
    stall.stallAfterSending = true;
    for (int n = 1; n < 12; ++n)
        server.setDataPlan(nameOf(n), stall);
    for (const bool signal : { false, true }) {
        SCOPED_TRACE(signal ? "signal" : "Stop Transfer");
        host.log.clear();
        for (const QString& file : localFiles())
            QFile::remove(local.path() + QLatin1Char('/') + file);
        const std::size_t before = server.argumentsOf("RETR").size();
        // Stop once four downloads ran (three of them stalled, the main connection's among them).
        bool stopped = false;
        bool aborted = false;
        std::chrono::steady_clock::time_point stoppedAt;
        host.onPendingEvents = [&] {
            if (!stopped && server.argumentsOf("RETR").size() >= before + 4 && engine.transferRunning()) {
                stopped = true;
                stoppedAt = std::chrono::steady_clock::now();
                if (!signal)
                    engine.stopTransferCommand();
            }
        };
        engine.setStopWhen([&] { return signal && stopped; });
        pump = [&] {
            host.processPendingEvents();
            if (signal && stopped && !std::exchange(aborted, true))
                engine.stopSiteCall(); // as --run-once's pump does
        };
        run();
        ASSERT_TRUE(stopped);
        // Every connection stopped within a second (the stalled server would wait a minute).
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 1s);
        EXPECT_TRUE(engine.lastRun().aborted);
        EXPECT_EQ(host.log.filter(QStringLiteral("Operation aborted")).size(), 1);
        // A file fetched before the stop counts, and a retry leaves it out; no temporary is left.
        const auto& fetched = engine.lastRun().fetchedNames;
        EXPECT_LE(fetched.size(), 1u);
        EXPECT_EQ(localFiles().size(), static_cast<qsizetype>(fetched.size()));
        for (const QString& file : localFiles())
            EXPECT_EQ(file, QString::fromStdString(nameOf(0))) << file.toStdString();
        // Each download the stop cut short says so on a line of its own, before
        // the run's end.
        int cut = 0;
        for (int n = 1; n < 12; ++n) {
            const QString name = QString::fromStdString(nameOf(n));
            const bool began = !transferringLines().filter(name).isEmpty();
            const QString line = QStringLiteral("Transfer stopped: %1 was not fetched.").arg(name);
            EXPECT_EQ(host.log.count(line), began ? 1 : 0) << nameOf(n);
            if (began) {
                ++cut;
                EXPECT_LT(host.log.indexOf(line), host.log.indexOf(QStringLiteral("Operation aborted")));
            }
        }
        EXPECT_GE(cut, 3);
        engine.setStopWhen(nullptr);
    }
}

// A connection waiting for a server that has stopped answering altogether (no
// reply to RETR, or to SIZE, which a job with a settle time asks) is not
// waited for either.
TEST_F(ConnectionsTest, StopDoesNotWaitForAServerThatStoppedAnswering)
{
    serveFiles(12);
    for (const char* verb : { "RETR", "SIZE" }) {
        SCOPED_TRACE(verb);
        host.log.clear();
        for (const QString& file : localFiles())
            QFile::remove(local.path() + QLatin1Char('/') + file);
        host.settings.settleSeconds = std::string(verb) == "SIZE" ? 1 : 0;
        const ScriptedFtpServer::Handler answer = server.handler(verb);
        server.on(verb, [&](FtpSession& session, const std::string& name) {
            if (name == nameOf(0))
                answer(session, name); // the others are never answered
        });
        const ScriptedFtpServer::Handler abort = server.handler("ABOR");
        server.on("ABOR", [](FtpSession&, const std::string&) {}); // nor is ABOR
        const std::size_t before = server.argumentsOf(verb).size();
        bool stopped = false;
        std::chrono::steady_clock::time_point stoppedAt;
        host.onPendingEvents = [&] {
            if (!stopped && server.argumentsOf(verb).size() >= before + 3 && engine.transferRunning()) {
                stopped = true;
                stoppedAt = std::chrono::steady_clock::now();
                engine.stopTransferCommand();
            }
        };
        pump = [&] { host.processPendingEvents(); };
        run();
        server.on(verb, answer);
        server.on("ABOR", abort);
        ASSERT_TRUE(stopped);
        EXPECT_LT(std::chrono::steady_clock::now() - stoppedAt, 1s);
        EXPECT_TRUE(engine.lastRun().aborted);
        for (const QString& file : localFiles())
            EXPECT_EQ(file, QString::fromStdString(nameOf(0))) << file.toStdString();
    }
}

TEST_F(ConnectionsTest, ASequenceJobKeepsToOneConnection)
{
    serveFiles(5);
    host.settings.fileKind = JobSettings::FileKind::OneFile;
    host.settings.fileName = QStringLiteral("f*.bin");
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("copy[seq].bin");
    host.settings.sequenceStart = 1;
    engine.siteConnect();
    engine.changeFolder();
    engine.transferOneFile();
    EXPECT_EQ(engine.lastRun().fetched, 5);
    EXPECT_EQ(engine.lastRun().connections, 1);
    EXPECT_EQ(server.sessionCount(), 1);
    EXPECT_EQ(localContent("copy1.bin"), QByteArray::fromStdString(contentOf(0)));
    EXPECT_EQ(localContent("copy5.bin"), QByteArray::fromStdString(contentOf(4)));
    // The SIZE of the one-connection sequence is still asked.
    EXPECT_EQ(server.argumentsOf("SIZE").size(), 5u);
}

TEST_F(ConnectionsTest, OnlyNewerAndSettleTimeDecideEachFileOnItsConnection)
{
    // A machine listing with exact times (the fake clock reads 2024-03-15 10:30
    // local time): f100 is unchanged locally, f101 changed a minute ago (still
    // being written with a settle time of 5 minutes), the others are new.
    const QDateTime now = QDateTime(QDate(2024, 3, 15), QTime(10, 30)).toUTC();
    const auto fact
        = [](const QDateTime& time) { return time.toString(QStringLiteral("yyyyMMddHHmmss")).toStdString(); };
    server.setFeatures("211-Features:\r\n SIZE\r\n MDTM\r\n MLST type*;size*;modify*;\r\n211 End\r\n");
    std::string listing;
    for (int n = 0; n < 6; ++n) {
        server.addFile(nameOf(n), contentOf(n));
        listing += "type=file;size=" + std::to_string(contentOf(n).size())
            + ";modify=" + fact(now.addSecs(n == 1 ? -60 : -3600)) + "; " + nameOf(n) + "\r\n";
    }
    server.on("MLSD",
        [listing](FtpSession& s, const std::string&) { s.runTransfer(DataPlan {}, listing, false, {}); });
    host.settings.onlyNewer = true;
    host.settings.settleSeconds = 300;
    const std::string same = (local.path() + QLatin1Char('/')).toStdString() + nameOf(0);
    {
        QFile file(QString::fromStdString(same));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(contentOf(0)));
    }
    ASSERT_TRUE(setModificationTime(same, now.addSecs(-3600)));
    run();
    EXPECT_EQ(engine.lastRun().fetched, 4);
    ASSERT_EQ(engine.lastRun().passedOver.size(), 2u);
    EXPECT_EQ(engine.lastRun().passedOver[0].remoteName, nameOf(0));
    EXPECT_EQ(engine.lastRun().passedOver[1].remoteName, nameOf(1));
    EXPECT_EQ(engine.lastRun().passedOver[1].reason, QStringLiteral("The file is still being written."));
    EXPECT_EQ(localFiles().size(), 5);
    EXPECT_EQ(server.argumentsOf("RETR").size(), 4u);
    // The fetched copies take the server's times, for the next run to compare.
    EXPECT_EQ(localFileState((local.path() + QLatin1Char('/')).toStdString() + nameOf(4)).modifiedUtc,
        now.addSecs(-3600));
}

// Every connection logs in as the job says: through a proxy's login scheme
// ("User Site" without a proxy host logs in at the target).
TEST_F(ConnectionsTest, EveryConnectionLogsInThroughTheProxyScheme)
{
    serveFiles(6);
    host.settings.connections = 2;
    host.settings.proxyType = 5;
    run();
    expectAllFetched(6);
    const std::vector<std::string> users = server.argumentsOf("USER");
    EXPECT_EQ(users, std::vector<std::string>(2, "alice@127.0.0.1:" + std::to_string(server.port())));
}

// And over TLS with the certificate the job trusts.
TEST_F(ConnectionsTest, EveryConnectionSpeaksTlsWithTheTrustedCertificate)
{
    TestCertificates certificates;
    TlsPyFtpdServer tls(certificates.SelfSigned());
    for (int n = 0; n < 6; ++n)
        tls.writeFile(nameOf(n), contentOf(n));
    setSite(tls.host(), tls.port(), tls.user(), tls.password(), QString());
    host.settings.connections = 2;
    host.settings.security = JobSettings::Security::Explicit;
    host.settings.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    mainDelay = 250ms; // the TLS login of the other takes its time
    run();
    EXPECT_EQ(engine.lastRun().fetched, 6) << host.log.join('\n').toStdString();
    EXPECT_EQ(engine.lastRun().connections, 2);
    for (int n = 0; n < 6; ++n)
        EXPECT_EQ(localContent(nameOf(n)), QByteArray::fromStdString(contentOf(n)));
}

// pyftpdlib, a real server: many files over four connections, byte for byte.
class ConnectionsRealServerTest : public ConnectionsTest {
protected:
    ConnectionsRealServerTest()
        : ConnectionsTest(false)
    {
        setSite(real.host(), real.port(), real.user(), real.password(), QStringLiteral("/pub"));
    }
    PyFtpdServer real;
};

TEST_F(ConnectionsRealServerTest, ManyFilesOverFourConnections)
{
    for (int n = 0; n < 40; ++n)
        real.writeFile("pub/" + nameOf(n), contentOf(n) + std::string(n * 997, static_cast<char>(n)));
    real.makeFolder("pub/sub");
    mainDelay = 10ms;
    run();
    ASSERT_EQ(engine.lastRun().fetched, 40);
    EXPECT_EQ(engine.lastRun().connections, 4);
    for (int n = 0; n < 40; ++n)
        EXPECT_EQ(localContent(nameOf(n)),
            QByteArray::fromStdString(contentOf(n) + std::string(n * 997, static_cast<char>(n))));
    EXPECT_EQ(localFiles().size(), 40);
}

// SFTP: every further connection signs in as the job says (here with a key
// file, the host key trusted with the job).
TEST(ConnectionsOverSftp, FilesComeWholeOverThreeConnections)
{
    SshdServer sshd;
    sshd.Start();
    const std::string remote = sshd.Folder() + "/remote";
    QTemporaryDir local;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(remote)));
    for (int n = 0; n < 9; ++n) {
        QFile file(QString::fromStdString(remote + "/" + nameOf(n)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(contentOf(n)));
    }
    FakeTransferHost host;
    host.settings.protocol = JobSettings::Protocol::Sftp;
    host.settings.host = QStringLiteral("127.0.0.1");
    host.settings.port = QString::number(sshd.Port());
    host.settings.userName = QString::fromStdString(sshd.User());
    host.settings.keyFile = QString::fromStdString(sshd.KeyPath("plain"));
    host.settings.trustedHostKey = QString::fromStdString(sshd.HostKeyFingerprint());
    host.settings.remoteFolder = QString::fromStdString(remote);
    host.settings.localFolder = local.path();
    host.settings.fileKind = JobSettings::FileKind::AllFiles;
    host.settings.overwrite = true;
    host.settings.connections = 3;
    // The main connection waits (ten seconds at most) for the others to have
    // logged in before its first download: a run does not wait for a login it
    // no longer needs, and a loaded machine may take its time over SSH.
    static std::atomic<int> loggedIn;
    loggedIn = 0;
    class FurtherSite : public SftpSite {
    public:
        using SftpSite::SftpSite;
        SiteConnected connect() override
        {
            SiteConnected connected = SftpSite::connect();
            ++loggedIn;
            return connected;
        }
    };
    class WaitingSite : public SftpSite {
    public:
        using SftpSite::SftpSite;
        void retrieve(const std::string& name, const std::string& localPath, bool overwrite) override
        {
            const auto until = std::chrono::steady_clock::now() + 10s;
            while (loggedIn < 2 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(10ms);
            SftpSite::retrieve(name, localPath, overwrite);
        }
    };
    ProtocolSites sites { nullptr, [] { return std::make_unique<WaitingSite>([] {}); },
        [](const JobSettings&, std::function<void()> pump) {
            return std::make_unique<FurtherSite>(std::move(pump));
        } };
    TransferEngine engine { host, sites, QStringLiteral(",") };
    engine.siteConnect();
    engine.changeFolder();
    engine.transferAllFiles();
    EXPECT_EQ(engine.lastRun().fetched, 9) << host.log.join('\n').toStdString();
    EXPECT_EQ(engine.lastRun().connections, 3) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(engine.lastRun().complete());
    for (int n = 0; n < 9; ++n) {
        QFile file(local.path() + QLatin1Char('/') + QString::fromStdString(nameOf(n)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << nameOf(n);
        EXPECT_EQ(file.readAll(), QByteArray::fromStdString(contentOf(n)));
    }
    engine.disconnectSite();
}

} // namespace
} // namespace taskhaul::test
