// Several connections against servers that misbehave or limit them: files
// renamed to one local name, a further connection shown another certificate or
// host key, a server that limits its connections, a connection lost mid-file,
// and the log's lines as their events come.

#include "connections_fixture.h"
#include "ftp/pyftpd_server.h"
#include "ftp/tls_servers.h"
#include "sftp/sshd_server.h"
#include "site/sftp_site.h"

#include <QRegularExpression>

#include <atomic>
#include <map>

namespace taskhaul::test {
namespace {

using namespace std::chrono_literals;

// Files that one rename template stores under one local name leave the plan's
// last there, as a single connection does, whatever the number of connections
// (a name template with a time field alike).
TEST_F(ConnectionsTest, FilesStoredUnderOneNameLeaveThePlansLast)
{
    const auto content = [](int n) { return std::string(1200, static_cast<char>('0' + n)); };
    std::string listing;
    for (int n = 1; n <= 5; ++n) {
        const std::string name = "m00" + std::to_string(n) + ".dat";
        server.addFile(name, content(n));
        listing += unixLine(name, content(n).size());
    }
    server.setListing(listing);
    // The middle file comes slowly: fetched at once with the others it would end last.
    DataPlan slow;
    slow.chunkSize = 64;
    slow.chunkDelay = 30ms;
    server.setDataPlan("m003.dat", slow);
    host.settings.fileKind = JobSettings::FileKind::OneFile;
    host.settings.fileName = QStringLiteral("m00?.dat");
    host.settings.rename = true;
    for (const auto& [renameTo, stored] :
        std::map<QString, std::string> { { QStringLiteral("latest.dat"), "latest.dat" },
            { QStringLiteral("latest_[HH].dat"), "latest_10.dat" } }) {
        SCOPED_TRACE(renameTo.toStdString());
        host.settings.renameTo = renameTo;
        host.log.clear();
        for (const QString& file : localFiles())
            QFile::remove(local.path() + QLatin1Char('/') + file);
        engine.siteConnect();
        engine.changeFolder();
        engine.transferOneFile();
        EXPECT_EQ(engine.lastRun().fetched, 5);
        EXPECT_EQ(localContent(stored), QByteArray::fromStdString(content(5)));
        const QStringList lines = transferringLines();
        ASSERT_EQ(lines.size(), 5);
        EXPECT_TRUE(lines.last().contains(QStringLiteral("/m005.dat => "))) << lines.last().toStdString();
        EXPECT_EQ(localFiles(), QStringList { QString::fromStdString(stored) });
    }
}

// A server that refuses the data connection of a further connection (425, as
// pyftpdlib does at its limit, or 421, closing it) limits the connections: the
// file goes to another connection, that one is closed, and nothing is skipped.
TEST_F(ConnectionsTest, ADataConnectionRefusedForTooManyLeavesTheFileToTheOthers)
{
    serveFiles(10);
    // The main connection logs in first, long before the others.
    std::atomic<FtpSession*> main { nullptr };
    const auto user = server.handler("USER");
    server.on("USER", [&main, user](FtpSession& s, const std::string& argument) {
        FtpSession* none = nullptr;
        main.compare_exchange_strong(none, &s);
        user(s, argument);
    });
    const auto passive = server.handler("PASV");
    mainDelay = 50ms; // the further connections all try
    for (const bool closing : { false, true }) {
        SCOPED_TRACE(closing ? "421" : "425");
        for (const QString& file : localFiles())
            QFile::remove(local.path() + QLatin1Char('/') + file);
        host.log.clear();
        main = nullptr;
        server.on("PASV", [&main, passive, closing](FtpSession& s, const std::string& argument) {
            if (&s == main.load()) {
                passive(s, argument);
            } else if (closing) {
                s.send("421 Too many connections. Service temporarily unavailable.\r\n");
                s.close();
            } else {
                s.send("425 Too many connections. Can't open data channel.\r\n");
            }
        });
        run();
        expectAllFetched(10);
        EXPECT_TRUE(engine.lastRun().skipped.empty());
        EXPECT_EQ(host.log.filter(QStringLiteral("The server accepted only 1 connection(s).")).size(), 1);
    }
}

// The same against pyftpdlib, which counts its listener, control and data
// connections against one limit.
class ConnectionsLimitTest : public ConnectionsTest {
protected:
    ConnectionsLimitTest()
        : ConnectionsTest(false)
    {
        setSite(real.host(), real.port(), real.user(), real.password(), QString());
    }
    static PyFtpdServer::Options limited()
    {
        PyFtpdServer::Options options;
        options.maxConnections = 3;
        return options;
    }
    PyFtpdServer real { limited() };
};

TEST_F(ConnectionsLimitTest, AServerThatLimitsItsConnectionsGetsEveryFileFetched)
{
    for (int n = 0; n < 60; ++n)
        real.writeFile(nameOf(n), contentOf(n));
    host.settings.connections = 8;
    run();
    expectAllFetched(60);
    EXPECT_TRUE(engine.lastRun().skipped.empty());
    EXPECT_EQ(host.log.filter(QRegularExpression(QStringLiteral("^The server accepted only \\d connection")))
                  .size(),
        1);
}

// A further connection shown another certificate or host key than the main
// connection is refused before it logs in, as a changed one always is: the log
// warns with the new fingerprint and the run fails, though every file arrived
// over the main connection. The further connection goes to a second server
// that serves the same files under another identity.
template <typename Site> class ElsewhereSite : public Site {
public:
    ElsewhereSite(std::function<void()> pump, int port)
        : Site(std::move(pump))
        , port_(port)
    {
    }
    void configure(const JobSettings& job, const QString& trusted) override
    {
        JobSettings elsewhere = job;
        elsewhere.port = QString::number(port_);
        Site::configure(elsewhere, trusted);
    }

private:
    int port_;
};

// The main connection's site, slow enough that the further one has tried
// before the files are all in.
template <typename Site> class SlowSite : public Site {
public:
    using Site::Site;
    void retrieve(const std::string& name, const std::string& localPath, bool overwrite) override
    {
        std::this_thread::sleep_for(100ms);
        Site::retrieve(name, localPath, overwrite);
    }
};

struct IdentityRun {
    explicit IdentityRun(JobSettings job, const std::function<std::unique_ptr<RemoteSite>()>& main,
        const std::function<std::unique_ptr<RemoteSite>(std::function<void()>)>& further)
        : sites(job.protocol == JobSettings::Protocol::Ftp ? main : nullptr,
            job.protocol == JobSettings::Protocol::Sftp ? main : nullptr,
            [further](const JobSettings&, std::function<void()> pump) { return further(std::move(pump)); })
    {
        job.localFolder = local.path();
        job.fileKind = JobSettings::FileKind::AllFiles;
        job.overwrite = true;
        job.connections = 2;
        host.settings = job;
        engine.siteConnect();
        engine.changeFolder();
        engine.transferAllFiles();
        engine.disconnectSite();
    }
    void expectRefused(const QString& warning) const
    {
        EXPECT_EQ(engine.lastRun().fetched, 4) << host.log.join('\n').toStdString();
        for (int n = 0; n < 4; ++n) {
            QFile file(local.path() + QLatin1Char('/') + QString::fromStdString(nameOf(n)));
            EXPECT_TRUE(
                file.open(QIODevice::ReadOnly) && file.readAll() == QByteArray::fromStdString(contentOf(n)));
        }
        EXPECT_EQ(host.log.count(QStringLiteral("WARNING: ") + warning), 1)
            << host.log.join('\n').toStdString();
        EXPECT_TRUE(engine.lastRun().failed());
        EXPECT_FALSE(engine.lastRun().lostConnection()); // no retry would change it
        EXPECT_EQ(engine.lastRun().failure, warning);
        EXPECT_TRUE(host.log.filter(QStringLiteral("accepted only")).isEmpty());
    }

    QTemporaryDir local;
    FakeTransferHost host;
    ProtocolSites sites;
    TransferEngine engine { host, sites, QStringLiteral(",") };
};

TEST(ConnectionsIdentity, AFurtherConnectionShownAnotherCertificateFailsTheRun)
{
    TestCertificates certificates;
    TlsPyFtpdServer trusted(certificates.SelfSigned());
    TlsPyFtpdServer other(certificates.Server());
    for (int n = 0; n < 4; ++n) {
        trusted.writeFile(nameOf(n), contentOf(n));
        other.writeFile(nameOf(n), contentOf(n));
    }
    JobSettings job;
    job.host = QString::fromStdString(trusted.host());
    job.port = QString::number(trusted.port());
    job.userName = QString::fromStdString(trusted.user());
    job.password = QString::fromStdString(trusted.password());
    job.passive = true;
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    const int elsewhere = other.port();
    const IdentityRun run(
        job, [] { return std::make_unique<SlowSite<FtpSite>>([] {}); },
        [elsewhere](std::function<void()> pump) {
            return std::make_unique<ElsewhereSite<FtpSite>>(std::move(pump), elsewhere);
        });
    run.expectRefused(QStringLiteral("The server's certificate has changed: connection 2 was shown the "
                                     "certificate with the SHA-256 fingerprint %1, not the certificate of "
                                     "the first connection, and was refused. Someone may be intercepting "
                                     "the connection.")
                          .arg(QString::fromStdString(
                              TestCertificates::ColonFingerprint(certificates.Server().certificate))));
}

TEST(ConnectionsIdentity, AFurtherConnectionShownAnotherHostKeyFailsTheRun)
{
    SshdServer trusted;
    trusted.Start();
    SshdServer other;
    other.Start();
    ASSERT_NE(trusted.HostKeyFingerprint(), other.HostKeyFingerprint());
    const std::string remote = trusted.Folder() + "/remote";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(remote)));
    for (int n = 0; n < 4; ++n) {
        QFile file(QString::fromStdString(remote + "/" + nameOf(n)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(contentOf(n)));
    }
    JobSettings job;
    job.protocol = JobSettings::Protocol::Sftp;
    job.host = QStringLiteral("127.0.0.1");
    job.port = QString::number(trusted.Port());
    job.userName = QString::fromStdString(trusted.User());
    job.keyFile = QString::fromStdString(trusted.KeyPath("plain"));
    job.trustedHostKey = QString::fromStdString(trusted.HostKeyFingerprint());
    job.remoteFolder = QString::fromStdString(remote);
    const int elsewhere = other.Port();
    const IdentityRun run(
        job, [] { return std::make_unique<SlowSite<SftpSite>>([] {}); },
        [elsewhere](std::function<void()> pump) {
            return std::make_unique<ElsewhereSite<SftpSite>>(std::move(pump), elsewhere);
        });
    run.expectRefused(
        QStringLiteral("The server's host key has changed: connection 2 was shown the key %1, not the key of "
                       "the first connection, and was refused. Someone may be intercepting the connection.")
            .arg(QString::fromStdString(other.HostKeyFingerprint())));
}

// A connection lost mid-file hands its file to another and says so once; the
// loss of the main connection also says that it is disconnected.
class ConnectionsLossTest : public ConnectionsTest {
protected:
    void loseTheFirstDownloadOf(bool mainConnection)
    {
        serveFiles(10);
        std::atomic<FtpSession*> lister { nullptr };
        const auto list = server.handler("LIST");
        server.on("LIST", [&lister, list](FtpSession& s, const std::string& argument) {
            lister = &s;
            list(s, argument);
        });
        std::atomic<bool> dropped { false };
        const auto retrieve = server.handler("RETR");
        server.on("RETR", [&, retrieve](FtpSession& s, const std::string& name) {
            if ((&s == lister.load()) == mainConnection && !dropped.exchange(true)) {
                s.send("150 Opening BINARY mode data connection.\r\n");
                if (s.openData()) {
                    s.sendData(contentOf(5).substr(0, 300));
                    s.closeData();
                }
                s.close();
                return;
            }
            retrieve(s, name);
        });
        run();
        expectAllFetched(10);
        EXPECT_TRUE(dropped);
        EXPECT_EQ(server.argumentsOf("RETR").size(), 11u);
        EXPECT_FALSE(engine.lastRun().connectionBroke);
        const QStringList lost = host.log.filter(QRegularExpression(
            QStringLiteral("^Connection \\d was lost; its file goes back to the queue\\.$")));
        ASSERT_EQ(lost.size(), 1) << host.log.join('\n').toStdString();
        EXPECT_EQ(lost.front() == QStringLiteral("Connection 1 was lost; its file goes back to the queue."),
            mainConnection);
        EXPECT_EQ(
            host.log.count(QStringLiteral("alice disconnected from 127.0.0.1")), mainConnection ? 1 : 0);
    }
};

TEST_F(ConnectionsLossTest, AFurtherConnectionLostMidFileHandsItsFileToAnother)
{
    loseTheFirstDownloadOf(false);
}

TEST_F(ConnectionsLossTest, TheMainConnectionLostMidFileHandsItsFileToAnother)
{
    loseTheFirstDownloadOf(true);
}

// Each line is written when its event comes, so that it carries the event's
// time: a slow first file holds back none of the lines of the files after it.
TEST_F(ConnectionsTest, EachLineIsWrittenWhenItsEventComes)
{
    serveFiles(6);
    DataPlan slow;
    slow.chunkSize = 100;
    slow.chunkDelay = 120ms;
    server.setDataPlan(nameOf(0), slow);
    std::map<QString, std::chrono::steady_clock::time_point> written;
    host.onLog = [&written](const QString& line) { written[line] = std::chrono::steady_clock::now(); };
    run();
    expectAllFetched(6);
    const QString slowDone = completionLine(nameOf(0), contentOf(0).size());
    for (int n = 1; n < 6; ++n) {
        const QString done = completionLine(nameOf(n), contentOf(n).size());
        EXPECT_LT(host.log.indexOf(done), host.log.indexOf(slowDone)) << nameOf(n);
        EXPECT_GT(written[slowDone] - written[done], 500ms) << nameOf(n);
    }
}

} // namespace
} // namespace taskhaul::test
