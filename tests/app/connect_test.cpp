// A user's Connect in the window against real servers: the boxes a failure
// shows, and the certificate the user trusts or forgets, which the stored job
// holds at once.
#include "app/transfer_wiring.h"
#include "ftp/pyftpd_server.h"
#include "ftp/tls_servers.h"
#include "window_fixture.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace taskhaul::test {
namespace {

using Kind = RecordingMessageBoxes::Kind;

// "AB:CD:..." for 64 hex digits.
QString colonForm(const QString& fingerprint)
{
    QStringList pairs;
    for (qsizetype at = 0; at < fingerprint.size(); at += 2)
        pairs << fingerprint.mid(at, 2);
    return pairs.join(QLatin1Char(':'));
}

class ConnectTest : public WindowTest {
protected:
    QString fingerprint() const
    {
        return QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    }

    // The stored job: the TLS server, explicit TLS, trusting `trusted`.
    JobSettings storedJob(const QString& trusted = {}) const
    {
        JobSettings job;
        job.host = QString::fromStdString(server.host());
        job.port = QString::number(server.port());
        job.userName = QString::fromStdString(server.user());
        job.password = QString::fromStdString(server.password());
        job.localFolder = dir(QStringLiteral("in"));
        job.security = JobSettings::Security::Explicit;
        job.trustedCertificate = trusted;
        return job;
    }
    JobSettings stored() { return store().load(JobSettings {}).settings; }
    QString site() const { return QStringLiteral("127.0.0.1:%1").arg(server.port()); }

    bool forgetEnabled() const { return child<QToolButton>("ForgetTrust")->isEnabled(); }
    QString shownTrust() const { return child<QLineEdit>("TrustedFingerprint")->text(); }

    TestCertificates certificates;
    TlsPyFtpdServer server { certificates.SelfSigned() };
};

// A failed connect or folder is a warning, not an information; the texts stay.
TEST_F(ConnectTest, AFailureIsShownWithTheWarningIcon)
{
    PyFtpdServer plain;
    createWindow();
    child<QLineEdit>("Edit1")->setText(QString::fromStdString(plain.host()));
    child<QLineEdit>("Edit10")->setText(QString::number(plain.port()));
    child<QLineEdit>("Edit3")->setText(QString::fromStdString(plain.user()));
    const struct {
        const char* what;
        QString folder;
        QString password;
        const char* text;
    } cases[] = {
        { "wrong password", QStringLiteral("/"), QStringLiteral("wrong"),
            "The FTP site information specified is not valid" },
        { "no such folder", QStringLiteral("/missing"), QString::fromStdString(plain.password()),
            "The remote folder specified does not exist" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        child<QLineEdit>("Edit2")->setText(c.folder);
        child<QLineEdit>("Edit4")->setText(c.password);
        trigger(Command::Connect);
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].kind, Kind::Warning);
        EXPECT_EQ(boxes.shown()[0].caption, QStringLiteral("Warning"));
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(QLatin1String(c.text)))
            << boxes.shown()[0].text.toStdString();
    }
}

// The trust a user gives reaches the stored job at once, for scheduled runs and
// --run-once, whatever else is unsaved; Save stays for the rest.
TEST_F(ConnectTest, ATrustGivenIsTheStoredJobsAtOnceWhateverElseIsUnsaved)
{
    store().save(storedJob());
    createWindow();
    trigger(Command::OpenConfiguration);
    child<QLineEdit>("Edit5")->setText(dir(QStringLiteral("not-saved-yet")));
    ASSERT_TRUE(enabled(Command::SaveConfiguration));
    boxes.answerNext(MessageBoxes::Answer::Yes);

    trigger(Command::Connect);

    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Confirmation);
    // The question names the site, with its port that is not FTP's usual one.
    EXPECT_TRUE(boxes.shown()[0].text.contains(
        QStringLiteral("Trust this certificate for %1 from now on?").arg(site())))
        << boxes.shown()[0].text.toStdString();
    ASSERT_TRUE(hooks().transferWiring().engine().lastRun().connected);
    EXPECT_EQ(stored().trustedCertificate, fingerprint());
    EXPECT_EQ(stored().localFolder, dir(QStringLiteral("in"))); // the rest waits for Save
    EXPECT_TRUE(hooks().flags().configChanged);
    EXPECT_EQ(shownTrust(), colonForm(fingerprint()));
    EXPECT_FALSE(forgetEnabled()); // not while connected
    trigger(Command::Disconnect);
    EXPECT_TRUE(forgetEnabled());

    // With nothing else changed the window still shows the stored job: no Save
    // is waiting.
    boxes.clear();
    store().save(storedJob());
    trigger(Command::OpenConfiguration); // asks, the local folder changed
    boxes.clear();
    ASSERT_FALSE(enabled(Command::SaveConfiguration));
    boxes.answerNext(MessageBoxes::Answer::Yes);
    trigger(Command::Connect);
    EXPECT_EQ(stored().trustedCertificate, fingerprint());
    EXPECT_FALSE(hooks().flags().configChanged);
    EXPECT_FALSE(enabled(Command::SaveConfiguration));
    trigger(Command::Disconnect);

    // A job of another site in the store is left alone: the trust waits for Save.
    JobSettings other = storedJob();
    other.host = QStringLiteral("ftp.example.org");
    store().save(other);
    hooks().setTrustedCertificate(QString(64, QLatin1Char('C')));
    EXPECT_EQ(stored().trustedCertificate, QString());
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
}

// A legitimately changed certificate: the warning points to Forget, which asks,
// names what it forgets, and makes the stored job forget it at once; the next
// Connect asks as for a new server.
TEST_F(ConnectTest, ForgetLetsTheNextConnectAskAsForANewServer)
{
    const QString old(64, QLatin1Char('A'));
    store().save(storedJob(old));
    createWindow();
    trigger(Command::OpenConfiguration);
    EXPECT_EQ(child<QLabel>("TrustedLabel")->text(), QStringLiteral("Trusted certificate:"));
    EXPECT_EQ(shownTrust(), colonForm(old));
    ASSERT_TRUE(forgetEnabled());

    trigger(Command::Connect);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Warning);
    EXPECT_TRUE(boxes.shown()[0].text.contains(QStringLiteral("Forget on the FTP Site tab")))
        << boxes.shown()[0].text.toStdString();

    boxes.clear();
    boxes.answerNext(MessageBoxes::Answer::No);
    child<QToolButton>("ForgetTrust")->click();
    EXPECT_EQ(stored().trustedCertificate, old);
    EXPECT_EQ(shownTrust(), colonForm(old));

    boxes.clear();
    boxes.answerNext(MessageBoxes::Answer::Yes);
    child<QToolButton>("ForgetTrust")->click();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Confirmation);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(
        QStringLiteral("Forget the trusted certificate of %1?\n\n%2\n\n").arg(site(), colonForm(old))))
        << boxes.shown()[0].text.toStdString();
    EXPECT_EQ(stored().trustedCertificate, QString());
    EXPECT_EQ(shownTrust(), QString());
    EXPECT_FALSE(forgetEnabled());
    EXPECT_FALSE(enabled(Command::SaveConfiguration));
    EXPECT_EQ(logMessages().constLast(), QStringLiteral("Forgot the trusted certificate ") + colonForm(old));

    boxes.clear();
    boxes.answerNext(MessageBoxes::Answer::Yes);
    trigger(Command::Connect);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].kind, Kind::Confirmation);
    EXPECT_TRUE(hooks().transferWiring().engine().lastRun().connected);
    EXPECT_EQ(stored().trustedCertificate, fingerprint());
}

// Under SFTP the row shows the trusted host key, and Forget forgets that in
// the stored job; known_hosts is the user's and is never written.
TEST_F(ConnectTest, UnderSftpTheTrustedHostKeyIsShownAndForgotten)
{
    const QString key = QStringLiteral("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");
    JobSettings job = storedJob(QString(64, QLatin1Char('A')));
    job.protocol = JobSettings::Protocol::Sftp;
    job.port = QStringLiteral("22");
    job.trustedHostKey = key;
    store().save(job);
    createWindow();
    trigger(Command::OpenConfiguration);
    ASSERT_EQ(child<QComboBox>("ProtocolChoice")->currentIndex(), 1);
    EXPECT_EQ(child<QLabel>("TrustedLabel")->text(), QStringLiteral("Trusted host key:"));
    EXPECT_EQ(shownTrust(), key);
    boxes.answerNext(MessageBoxes::Answer::Yes);
    child<QToolButton>("ForgetTrust")->click();
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(
        QStringLiteral("Forget the trusted host key of %1?\n\n%2\n\n").arg(job.host, key)));
    EXPECT_EQ(stored().trustedHostKey, QString());
    EXPECT_EQ(stored().trustedCertificate, QString(64, QLatin1Char('A'))); // FTP's is not SFTP's to forget
    EXPECT_FALSE(forgetEnabled());
}

} // namespace
} // namespace taskhaul::test
