#include "engine_fixture.h"

#include "ftp/loopback.h"
#include "log/silent_stop.h"
#include "transfer/transfer_texts.h"

#include <chrono>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

using Strings = std::vector<std::string>;

const QString kSiteError = QStringLiteral(
    "The FTP site information specified is not valid or the site cannot be accessed at this time.");
const QString kFolderError
    = QStringLiteral("The remote folder specified does not exist or cannot be accessed at this time.");

using SiteConnection = EngineFixture;

TEST_F(SiteConnection, LogsInEntersTheFolderAndSaysSo)
{
    engine.siteConnect();
    engine.changeFolder();

    EXPECT_EQ(host.status, QStringLiteral("Connected."));
    EXPECT_EQ(host.log,
        QStringList(
            { QStringLiteral("alice connected to 127.0.0.1"), QStringLiteral("Current folder is pub") }));
    EXPECT_EQ(server.commands(), (Strings { "USER alice", "PASS pw", "FEAT", "TYPE I", "SYST", "CWD pub" }));
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(SiteConnection, EmptyRemoteFolderSendsNoCwdAndLogsNoFolderLine)
{
    host.settings.remoteFolder.clear();
    engine.siteConnect();
    engine.changeFolder();

    EXPECT_EQ(host.log, QStringList({ QStringLiteral("alice connected to 127.0.0.1") }));
    EXPECT_EQ(server.commands().back(), "SYST");
}

TEST_F(SiteConnection, ReconnectingClosesTheOldConnectionFirst)
{
    engine.siteConnect();
    engine.siteConnect();

    EXPECT_EQ(host.log,
        QStringList({ QStringLiteral("alice connected to 127.0.0.1"),
            QStringLiteral("alice disconnected from 127.0.0.1"),
            QStringLiteral("alice connected to 127.0.0.1") }));
    EXPECT_EQ(server.sessionCount(), 2);
}

TEST_F(SiteConnection, ProxySelectorPositionChoosesTheLoginScheme)
{
    struct Case {
        int position;
        ftp::TFtpProxyType expected;
    };
    const Case cases[] = {
        { 0, ftp::TFtpProxyType::fpcmNone }, { 1, ftp::TFtpProxyType::fpcmOpen },
        { 2, ftp::TFtpProxyType::fpcmSite }, { 3, ftp::TFtpProxyType::fpcmTransparent },
        { 4, ftp::TFtpProxyType::fpcmUserPass }, { 5, ftp::TFtpProxyType::fpcmUserSite },
        { -1, ftp::TFtpProxyType::fpcmUserSite }, // nothing selected: left as it was
    };
    host.settings.proxyHost = QStringLiteral("proxy.invalid");
    host.settings.proxyPort = QStringLiteral("8021");
    host.settings.proxyUserName = QStringLiteral("pu");
    host.settings.proxyPassword = QStringLiteral("pp");
    for (const Case& c : cases) {
        host.settings.proxyType = c.position;
        // Nothing listens at the proxy: the settings are what this looks at.
        host.settings.proxyHost = QStringLiteral("127.0.0.1");
        host.settings.proxyPort = QString::number(ClosedLoopbackPort());
        try {
            engine.siteConnect();
        } catch (const SilentStop&) {
        }
        EXPECT_EQ(client.ProxySettings().ProxyType, c.expected) << c.position;
    }
    EXPECT_EQ(client.ProxySettings().Host, "127.0.0.1");
    EXPECT_EQ(client.ProxySettings().UserName, "pu");
    EXPECT_EQ(client.ProxySettings().Password, "pp");
}

TEST_F(SiteConnection, UserSiteSchemeWithoutProxyHostLogsInAtTheTarget)
{
    host.settings.proxyType = 5; // "User Site"
    engine.siteConnect();
    EXPECT_EQ(server.commands().front(), "USER alice@127.0.0.1:" + std::to_string(server.port()));
}

TEST_F(SiteConnection, EmptyProxyPortCountsAsZeroAndBadNumbersReachTheCaller)
{
    host.settings.proxyPort.clear();
    engine.siteConnect();
    EXPECT_EQ(client.ProxySettings().Port, 0);

    host.settings.port = QStringLiteral("21x");
    try {
        engine.siteConnect();
        ADD_FAILURE() << "a bad port was accepted";
    } catch (const InvalidIntegerError& error) {
        EXPECT_STREQ(error.what(), "'21x' is not a valid integer value");
    }
    // No connection can fix a port that is not a number: no retry either.
    EXPECT_TRUE(engine.lastRun().jobUnusable);
    EXPECT_FALSE(engine.lastRun().lostConnection());
}

// A port no connection can use is the job's fault: said as such, tried nowhere,
// and never taken for a site that cannot be reached for now.
TEST_F(SiteConnection, APortOutsideTheRangeMakesTheJobUnusable)
{
    struct Case {
        const char* port;
        const char* proxyPort;
        const char* reason;
    };
    const Case cases[] {
        { "70000", "0", "The port 70000 is outside 1 to 65535." },
        { "0", "0", "The port 0 is outside 1 to 65535." },
        { "-21", "0", "The port -21 is outside 1 to 65535." },
        { "21", "65536", "The port 65536 is outside 0 to 65535." },
    };
    const int sessionsBefore = server.sessionCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port + std::string(" ") + c.proxyPort);
        host.log.clear();
        host.settings.port = QLatin1String(c.port);
        host.settings.proxyPort = QLatin1String(c.proxyPort);
        EXPECT_THROW(engine.siteConnect(), SilentStop);
        EXPECT_EQ(host.log,
            QStringList({ QStringLiteral("ERROR: ") + kSiteError,
                QStringLiteral("Reason: ") + QLatin1String(c.reason) }));
        EXPECT_TRUE(engine.lastRun().jobUnusable);
        EXPECT_FALSE(engine.lastRun().lostConnection());
    }
    EXPECT_EQ(server.sessionCount(), sessionsBefore);

    // Fixed, the job runs again, and a run that cannot connect is retried again.
    host.settings.port = QString::number(server.port());
    host.settings.proxyPort = QStringLiteral("0");
    engine.siteConnect();
    EXPECT_FALSE(engine.lastRun().jobUnusable);
}

// A failed connect reports itself once, with its reason; only a user's command sees a box.
TEST_F(SiteConnection, FailedConnectIsLoggedWithItsReasonAndShownOnlyToTheUser)
{
    struct Case {
        const char* what;
        bool unattended;
        bool refused; // no server at all, or a refused password
        QStringList log;
        QStringList controls;
        QStringList boxes;
    };
    const QString disconnected = QStringLiteral("alice disconnected from 127.0.0.1");
    const QString error = QStringLiteral("ERROR: ") + kSiteError;
    const QString wrongPassword = QStringLiteral("Reason: Login incorrect. / Try again later.");
    const QString on = QStringLiteral("stop on");
    const QString off = QStringLiteral("stop off");
    const Case cases[] = {
        { "user, wrong password", false, false, { disconnected, error, wrongPassword },
            { on, QStringLiteral("normal"), QStringLiteral("standby"), off, QStringLiteral("standby") },
            { kSiteError + QStringLiteral("\nLogin incorrect. / Try again later.") } },
        { "scheduled, wrong password", true, false, { disconnected, error, wrongPassword },
            { on, QStringLiteral("normal"), off, QStringLiteral("schedon") }, {} },
        { "scheduled, nobody listening", true, true, { error, QStringLiteral("Reason: ") },
            { on, off, QStringLiteral("schedon") }, {} },
    };
    server.reply("PASS", "530-Login incorrect.\r\n530 Try again later.\r\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.log.clear();
        host.controls.clear();
        host.boxes.clear();
        host.status.clear();
        engine.setUnattended(c.unattended);
        host.settings.port = QString::number(c.refused ? ClosedLoopbackPort() : server.port());
        QStringList statusDuringConnect;
        pump = [&] { statusDuringConnect << host.status; };

        EXPECT_THROW(asking(&TransferEngine::siteConnect), SilentStop);

        ASSERT_EQ(host.log.size(), c.log.size());
        for (qsizetype i = 0; i < c.log.size(); ++i)
            EXPECT_TRUE(host.log[i].startsWith(c.log[i])) << host.log[i].toStdString();
        // The refused connection names the system's reason.
        EXPECT_GT(host.log.last().size(), QStringLiteral("Reason: ").size());
        EXPECT_EQ(host.controls, c.controls);
        EXPECT_EQ(host.boxes.texts(), c.boxes);
        EXPECT_EQ(host.status, kSiteError);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_FALSE(engine.lastRun().connected);
        if (!statusDuringConnect.isEmpty()) {
            EXPECT_EQ(statusDuringConnect.first(), QStringLiteral("Connecting to 127.0.0.1\u2026"));
        }
    }
}

TEST_F(SiteConnection, StopTransferCancelsAConnectThatWaitsForASilentServer)
{
    server.setGreeting(std::string());
    for (const bool byDisconnect : { false, true }) {
        SCOPED_TRACE(byDisconnect ? "Disconnect" : "Stop Transfer");
        host.log.clear();
        int pumps = 0;
        pump = [&] {
            if (++pumps == 3)
                byDisconnect ? engine.disconnectCommand() : engine.stopTransferCommand();
        };
        const auto started = std::chrono::steady_clock::now();
        engine.setUnattended(false); // the user's own Connect
        host.boxes.clear();
        EXPECT_THROW(asking(&TransferEngine::siteConnect), SilentStop);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
        EXPECT_TRUE(host.log.contains(QStringLiteral("ERROR: ") + kSiteError));
        // The user ended it: no box, and no failure text on the status line.
        EXPECT_TRUE(host.boxes.shown().empty()) << host.boxes.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(host.status, QStringLiteral("Connection stopped."));
        EXPECT_FALSE(engine.connecting());
        EXPECT_FALSE(engine.stopRequested());
        EXPECT_FALSE(client.IsConnected());
    }
}

// The user's box keeps its fixed text and says on its next line why the
// connect failed, in the words of the system or the server.
TEST_F(SiteConnection, TheFailureBoxGivesTheReasonOnItsSecondLine)
{
    SilentListener silent;
    struct Case {
        const char* what;
        QString host;
        int port;
        const char* reason; // found in the second line, case ignored
    };
    const Case cases[] = {
        { "refused port", QStringLiteral("127.0.0.1"), ClosedLoopbackPort(), "refused" },
        { "unknown host", QStringLiteral("no-such-host.invalid"), 21, "" },
        { "no greeting in time", QStringLiteral("127.0.0.1"), silent.port(), "timeout" },
    };
    ftp::TFtpLimits limits;
    limits.ReplyTimeout = std::chrono::milliseconds(300);
    client.SetLimits(limits);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.boxes.clear();
        engine.setUnattended(false);
        host.settings.host = c.host;
        host.settings.port = QString::number(c.port);
        EXPECT_THROW(asking(&TransferEngine::siteConnect), SilentStop);
        ASSERT_EQ(host.boxes.shown().size(), 1u);
        const QStringList lines = host.boxes.shown()[0].text.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2) << host.boxes.shown()[0].text.toStdString();
        EXPECT_EQ(lines[0], kSiteError);
        EXPECT_FALSE(lines[1].trimmed().isEmpty());
        EXPECT_TRUE(lines[1].contains(QLatin1String(c.reason), Qt::CaseInsensitive))
            << lines[1].toStdString();
        // The log gives the same reason.
        EXPECT_EQ(host.log.last(), QStringLiteral("Reason: ") + lines[1]);
        EXPECT_EQ(host.status, kSiteError);
    }
}

TEST_F(SiteConnection, FailedFolderChangeDisconnects)
{
    server.reply("CWD", "550 pub: No such directory.\r\n");
    for (const bool unattended : { false, true }) {
        SCOPED_TRACE(unattended ? "scheduled" : "user");
        engine.setUnattended(unattended);
        host.status.clear();
        engine.siteConnect();
        host.log.clear();
        host.controls.clear();
        host.boxes.clear();

        EXPECT_THROW(asking(&TransferEngine::changeFolder), SilentStop);

        EXPECT_EQ(host.log,
            QStringList({ QStringLiteral("ERROR: ") + kFolderError,
                QStringLiteral("alice disconnected from 127.0.0.1") }));
        if (unattended) {
            EXPECT_EQ(host.controls, QStringList({ QStringLiteral("schedon"), QStringLiteral("normal") }));
            EXPECT_TRUE(host.boxes.shown().empty());
        } else {
            EXPECT_EQ(host.controls, QStringList({ QStringLiteral("normal"), QStringLiteral("standby") }));
            EXPECT_EQ(host.boxes.texts(), QStringList({ kFolderError }));
        }
        EXPECT_FALSE(client.IsConnected());
        EXPECT_TRUE(server.waitForSessionEnd());
    }
}

TEST_F(SiteConnection, ConnectCommandNeedsTheSiteFieldsAndRunsAsTheUser)
{
    host.settings.password.clear();
    engine.connectCommand();
    ASSERT_EQ(host.boxes.shown().size(), 1u);
    EXPECT_EQ(host.boxes.shown()[0].kind, RecordingMessageBoxes::Kind::Error);
    EXPECT_EQ(host.boxes.shown()[0].text, QStringLiteral("FTP site information required."));
    EXPECT_EQ(server.sessionCount(), 0);

    host.settings.password = QStringLiteral("pw");
    host.boxes.clear();
    bool unattendedDuringConnect = true;
    server.on("CWD", [](FtpSession& s, const std::string&) { s.send("250 OK.\r\n"); });
    pump = [&] { unattendedDuringConnect = unattendedDuringConnect && engine.unattended(); };
    engine.connectCommand();
    EXPECT_FALSE(unattendedDuringConnect);
    EXPECT_TRUE(engine.unattended());
    EXPECT_EQ(host.controls.back(), QStringLiteral("connected"));
    EXPECT_TRUE(host.boxes.shown().empty());

    // A failed connect leaves the flag set again, so a later scheduled run shows no box.
    server.reply("CWD", "550 No.\r\n");
    EXPECT_THROW(engine.connectCommand(), SilentStop);
    EXPECT_TRUE(engine.unattended());
    EXPECT_NE(host.controls.back(), QStringLiteral("connected"));
}

TEST_F(SiteConnection, ConnectGivenWhileConnectingIsIgnored)
{
    server.setGreetingDelay(std::chrono::milliseconds(200));
    int nested = 0;
    pump = [&] {
        if (nested++ == 0)
            engine.connectCommand();
    };
    engine.connectCommand();
    EXPECT_GT(nested, 0);
    EXPECT_EQ(server.sessionCount(), 1);
    EXPECT_EQ(host.log.filter(QStringLiteral("connected to")).size(), 1);
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(SiteConnection, DisconnectCommandAndTheDisconnectedNotification)
{
    engine.siteConnect();
    host.log.clear();
    host.controls.clear();

    engine.disconnectCommand();
    EXPECT_EQ(host.log, QStringList({ QStringLiteral("alice disconnected from 127.0.0.1") }));
    EXPECT_EQ(host.status, QStringLiteral("Disconnected"));
    EXPECT_EQ(host.controls.back(), QStringLiteral("standby"));
    EXPECT_EQ(host.focusRequests, 1);

    // A second notification for the same connection does nothing, whatever the
    // status line shows by then.
    host.status = QStringLiteral("Something else");
    host.controls.clear();
    engine.setUnattended(false);
    engine.onDisconnected();
    EXPECT_EQ(host.log.size(), 1);
    EXPECT_TRUE(host.controls.isEmpty());

    // Disconnecting an idle client is quiet.
    engine.disconnectCommand();
    EXPECT_EQ(host.log.size(), 1);
}

TEST_F(SiteConnection, AnonymousLoginFillsInTheLoginFields)
{
    engine.anonymousLogin();
    EXPECT_EQ(host.settings.userName, QStringLiteral("anonymous"));
    const QString password = host.settings.password;
    EXPECT_EQ(password.size(), 14);
    const auto at = password.indexOf(QLatin1Char('@'));
    EXPECT_GT(at, 0);
    EXPECT_GT(password.indexOf(QLatin1Char('.'), at), at + 1);
}

} // namespace
} // namespace taskhaul::test
