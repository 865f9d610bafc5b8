// A server certificate the system does not vouch for: a user's Connect asks
// whether to trust it for this site; an unattended run never asks; a trusted
// certificate that changes is always refused. Against pyftpdlib with TLS.
#include "fake_transfer_host.h"
#include "ftp/ftp_client.h"
#include "ftp/tls_servers.h"
#include "log/silent_stop.h"
#include "site/ftp_site.h"
#include "transfer/transfer_engine.h"
#include "watched_connect.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include <chrono>

namespace taskhaul::test {
namespace {

class CertificateTrust : public ::testing::Test {
protected:
    CertificateTrust()
    {
        host.settings.host = QString::fromStdString(server.host());
        host.settings.port = QString::number(server.port());
        host.settings.userName = QString::fromStdString(server.user());
        host.settings.password = QString::fromStdString(server.password());
        host.settings.security = JobSettings::Security::Explicit;
        host.settings.passive = true;
    }

    // What the window does with a user's connect: runs it and, once it has
    // returned, shows the box it left or asks its question (see watchedConnect).
    void askingSiteConnect()
    {
        connectsRun = 0;
        watchedConnect(engine, client, host.boxes, [this] {
            ++connectsRun;
            engine.siteConnect();
        });
    }

    // How many times the last askingSiteConnect ran the connect.
    int connectsRun = 0;

    QString fingerprint() const
    {
        return QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    }

    TestCertificates certificates;
    TlsPyFtpdServer server { certificates.SelfSigned() };
    FakeTransferHost host;
    ftp::TFtpClient client;
    FtpSite site { client };
    TransferEngine engine { host, site, QStringLiteral(",") };
};

TEST_F(CertificateTrust, AUserWhoTrustsTheCertificateKeepsItsFingerprintWithTheJob)
{
    engine.setUnattended(false);
    host.boxes.answerNext(MessageBoxes::Answer::Yes);

    askingSiteConnect();

    ASSERT_EQ(host.boxes.shown().size(), 1u);
    const auto& box = host.boxes.shown().front();
    EXPECT_EQ(box.kind, RecordingMessageBoxes::Kind::Confirmation);
    EXPECT_EQ(box.defaultButton, QStringLiteral("No"));
    // What a user compares with what the server's owner says, one per line.
    const QStringList lines = box.text.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 6) << box.text.toStdString();
    EXPECT_EQ(
        lines[0], QStringLiteral("The server's certificate is not trusted: the certificate is self-signed."));
    EXPECT_EQ(lines[1], QString());
    EXPECT_EQ(lines[2], QStringLiteral("Subject: O = Taskhaul tests, CN = localhost"));
    EXPECT_EQ(lines[3], QStringLiteral("Issuer: O = Taskhaul tests, CN = localhost"));
    EXPECT_TRUE(lines[4].contains(
        QRegularExpression(QStringLiteral("^Valid: from \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC to "
                                          "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC$"))))
        << lines[4].toStdString();
    EXPECT_EQ(lines[5],
        QStringLiteral("SHA-256 fingerprint: ")
            + QString::fromStdString(
                TestCertificates::ColonFingerprint(certificates.SelfSigned().certificate)));
    EXPECT_EQ(host.settings.trustedCertificate, fingerprint());
    EXPECT_TRUE(client.IsConnected());
    // The "yes" started the connect again, which the kept fingerprint let through.
    EXPECT_EQ(connectsRun, 2);
    EXPECT_TRUE(host.log.contains(QStringLiteral("Trusted the server's certificate ") + fingerprint()));

    // Later runs, unattended too, accept it without a question.
    client.Disconnect();
    host.boxes.clear();
    engine.setUnattended(true);
    engine.siteConnect();
    EXPECT_TRUE(host.boxes.shown().empty());
    EXPECT_TRUE(client.IsConnected());
}

TEST_F(CertificateTrust, NoTrustNoConnectionAndUnattendedRunsNeverAsk)
{
    engine.setUnattended(false);
    host.boxes.answerNext(MessageBoxes::Answer::No);
    EXPECT_THROW(askingSiteConnect(), SilentStop);
    EXPECT_TRUE(host.settings.trustedCertificate.isEmpty());
    EXPECT_FALSE(client.IsConnected());
    // The user's No ends the connect: the question was the last box.
    ASSERT_EQ(host.boxes.shown().size(), 1u);
    EXPECT_EQ(host.boxes.shown()[0].kind, RecordingMessageBoxes::Kind::Confirmation);
    EXPECT_EQ(host.status, QStringLiteral("Not connected: the server's certificate was not trusted."));
    EXPECT_EQ(connectsRun, 1);

    host.boxes.clear();
    host.log.clear();
    engine.setUnattended(true);
    EXPECT_THROW(engine.siteConnect(), SilentStop);
    EXPECT_TRUE(host.boxes.shown().empty());
    ASSERT_FALSE(host.log.isEmpty());
    EXPECT_TRUE(host.log.last().startsWith(QStringLiteral("Reason: ")));
    EXPECT_TRUE(host.log.last().contains(fingerprint())) << host.log.last().toStdString();
}

// While the question is on screen the connect is not over: a Connect or a
// Transfer reached anyway (a shortcut, the desktop) does nothing.
TEST_F(CertificateTrust, ConnectAndTransferReachedWhileTheQuestionIsOpenDoNothing)
{
    engine.setUnattended(false);
    host.settings.localFolder = QDir::tempPath();
    host.boxes.answerNext(MessageBoxes::Answer::No);
    int connects = 0;
    qsizetype logLinesDuring = -1;
    host.boxes.onShow = [&] {
        const qsizetype before = host.log.size();
        EXPECT_NO_THROW(engine.connectCommand());
        EXPECT_NO_THROW(engine.transferCommand());
        logLinesDuring = host.log.size() - before;
    };
    EXPECT_THROW(askingConnect(engine, host.boxes,
                     [&] {
                         ++connects;
                         engine.siteConnect();
                     }),
        SilentStop);
    host.boxes.onShow = nullptr;
    EXPECT_EQ(logLinesDuring, 0) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(host.boxes.shown().size(), 1u);
    EXPECT_FALSE(client.IsConnected());
}

TEST_F(CertificateTrust, ATrustedCertificateThatChangedIsRefusedWithAWarning)
{
    engine.setUnattended(false);
    host.settings.trustedCertificate = QString(64, QLatin1Char('A'));
    EXPECT_THROW(askingSiteConnect(), SilentStop);
    // A security warning of its own, not the connection failure box: the host,
    // the new fingerprint in pairs, and what to do before trusting it.
    ASSERT_EQ(host.boxes.shown().size(), 1u);
    const auto& box = host.boxes.shown()[0];
    EXPECT_EQ(box.kind, RecordingMessageBoxes::Kind::Warning);
    EXPECT_EQ(box.caption, QStringLiteral("Taskhaul Warning"));
    QStringList pairs;
    for (qsizetype i = 0; i < fingerprint().size(); i += 2)
        pairs << fingerprint().mid(i, 2);
    for (const QString& part : { QString::fromStdString(server.host()), pairs.join(QLatin1Char(':')),
             QStringLiteral("has changed"), QStringLiteral("Check with the server's administrator") })
        EXPECT_TRUE(box.text.contains(part)) << part.toStdString() << " not in " << box.text.toStdString();
    EXPECT_FALSE(box.text.contains(QStringLiteral("is not valid"))) << box.text.toStdString();
    EXPECT_TRUE(host.log.last().contains(QStringLiteral("The server's certificate has changed")))
        << host.log.last().toStdString();
    EXPECT_EQ(host.settings.trustedCertificate, QString(64, QLatin1Char('A')));
}

// A server that moves from a certificate of its own to one the system vouches
// for keeps working, and the fingerprint kept for the old one is forgotten.
TEST(TrustedAuthority, ReplacesAStoredFingerprintOnceAndForAll)
{
    TestCertificates certificates;
    const TrustTestCa trust(certificates);
    TlsPyFtpdServer server(certificates.Server());
    FakeTransferHost host;
    host.settings.host = QString::fromStdString(server.host());
    host.settings.port = QString::number(server.port());
    host.settings.userName = QString::fromStdString(server.user());
    host.settings.password = QString::fromStdString(server.password());
    host.settings.security = JobSettings::Security::Explicit;
    host.settings.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    ftp::TFtpClient client;
    FtpSite site(client);
    TransferEngine engine(host, site, QStringLiteral(","));
    const QString notice = QStringLiteral(
        "The server's certificate is now signed by a trusted authority; the stored fingerprint is no longer "
        "needed.");

    for (int run = 0; run < 2; ++run) {
        engine.setUnattended(run == 0);
        engine.siteConnect();
        EXPECT_TRUE(client.IsConnected()) << run;
        client.Disconnect();
    }
    EXPECT_EQ(host.log.count(notice), 1) << host.log.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(host.settings.trustedCertificate.isEmpty());
    EXPECT_TRUE(host.boxes.shown().empty());
}

} // namespace
} // namespace taskhaul::test

namespace taskhaul::test {
namespace {

TEST(ImplicitTlsPort, IsNineNinetyWhereThePortWasLeftAtTwentyOne)
{
    struct Case {
        JobSettings::Security security;
        const char* port;
        int used;
    };
    const Case cases[] = {
        { JobSettings::Security::Implicit, "21", 990 },
        { JobSettings::Security::Implicit, "2990", 2990 },
        { JobSettings::Security::Explicit, "21", 21 },
        { JobSettings::Security::Plain, "21", 21 },
    };
    for (const Case& c : cases) {
        FakeTransferHost host;
        host.settings.host = QStringLiteral("127.0.0.1");
        host.settings.port = QLatin1String(c.port);
        host.settings.userName = QStringLiteral("u");
        host.settings.password = QStringLiteral("p");
        host.settings.security = c.security;
        ftp::TFtpLimits limits;
        limits.ConnectTimeout = std::chrono::milliseconds(200);
        ftp::TFtpClient client;
        client.SetLimits(limits);
        FtpSite site(client);
        TransferEngine engine(host, site, QStringLiteral(","));
        // Nobody listens there (or a refusal comes at once): only the port matters.
        try {
            engine.siteConnect();
        } catch (const SilentStop&) {
        }
        EXPECT_EQ(client.Port(), c.used) << c.port;
    }
}

} // namespace
} // namespace taskhaul::test
