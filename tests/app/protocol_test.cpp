// The job's protocol in the window: the controls each protocol uses, the port
// that follows the protocol, the trusted host key, and the SFTP values on their
// way between the fields, the job and the store.
#include "window_fixture.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QToolButton>

#include <functional>

namespace taskhaul::test {
namespace {

const QString kHostKey = QStringLiteral("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");

class ProtocolTest : public WindowTest {
protected:
    void SetUp() override { createWindow(); }

    bool on(const char* name) const { return child<QWidget>(name)->isEnabled(); }
    QComboBox* protocol() const { return child<QComboBox>("ProtocolChoice"); }
    QLineEdit* port() const { return child<QLineEdit>("Edit10"); }
    void choose(JobSettings::Protocol p) { protocol()->setCurrentIndex(p == JobSettings::Protocol::Sftp); }
};

// What SFTP does not use; with FTP each keeps the rule it has always had.
const char* const kFtpOnly[] = { "CheckBox3", "cbSecurity", "cbProxyType", "edtProxyHostAddress",
    "edtProxyPort", "edtProxyUserName", "edtProxyPassword", "SpeedButton3" };
const char* const kKeyControls[] = { "KeyFileEdit", "KeyFileBrowse", "KeyPassphraseEdit" };
// A sample of the controls the protocol must leave alone.
const char* const kOthers[] = { "Edit1", "Edit10", "Edit4", "CheckBox1", "Edit5", "SpinEdit1" };

TEST_F(ProtocolTest, EachStateEnablesWhatTheProtocolUses)
{
    struct State {
        const char* name;
        void (MainWindow::TestHooks::*apply)();
        bool standby;
    };
    const State states[] = {
        { "standby", &MainWindow::TestHooks::controlsStandby, true },
        { "scheduler on", &MainWindow::TestHooks::controlsSchedon, false },
        { "connected", &MainWindow::TestHooks::controlsConnected, false },
        { "busy", &MainWindow::TestHooks::controlsBusy, false },
    };
    for (const bool sftp : { false, true }) {
        hooks().controlsStandby();
        choose(sftp ? JobSettings::Protocol::Sftp : JobSettings::Protocol::Ftp);
        for (const State& s : states) {
            SCOPED_TRACE(std::string(s.name) + (sftp ? " with SFTP" : " with FTP"));
            auto h = hooks();
            (h.*s.apply)();
            for (const char* name : kFtpOnly) {
                // The security choice has never been locked by a state.
                const bool ftpRule = QLatin1String(name) == QLatin1String("cbSecurity") || s.standby;
                EXPECT_EQ(on(name), !sftp && ftpRule) << name;
            }
            for (const char* name : kKeyControls)
                EXPECT_EQ(on(name), sftp && s.standby) << name;
            EXPECT_EQ(on("ProtocolChoice"), s.standby);
            for (const char* name : kOthers)
                EXPECT_EQ(on(name), s.standby) << name;
        }
    }
}

TEST_F(ProtocolTest, ChangingTheProtocolInStandbySwitchesTheControlsAtOnce)
{
    hooks().controlsStandby();
    choose(JobSettings::Protocol::Sftp);
    for (const char* name : kFtpOnly)
        EXPECT_FALSE(on(name)) << name;
    for (const char* name : kKeyControls)
        EXPECT_TRUE(on(name)) << name;
    for (const char* name : kOthers)
        EXPECT_TRUE(on(name)) << name;
    EXPECT_TRUE(hooks().flags().configChanged);

    choose(JobSettings::Protocol::Ftp);
    for (const char* name : kFtpOnly)
        EXPECT_TRUE(on(name)) << name;
    for (const char* name : kKeyControls)
        EXPECT_FALSE(on(name)) << name;
    for (const char* name : kOthers)
        EXPECT_TRUE(on(name)) << name;
}

TEST_F(ProtocolTest, APortLeftAtTheProtocolsOwnFollowsTheProtocol)
{
    using P = JobSettings::Protocol;
    struct Case {
        const char* before;
        P from, to;
        const char* after;
    };
    const Case cases[] = {
        { "21", P::Ftp, P::Sftp, "22" },
        { "22", P::Sftp, P::Ftp, "21" },
        { "2121", P::Ftp, P::Sftp, "2121" },
        { "2222", P::Sftp, P::Ftp, "2222" },
        { "22", P::Ftp, P::Sftp, "22" },
        { "", P::Ftp, P::Sftp, "" },
        { "990", P::Ftp, P::Sftp, "990" },
    };
    for (const Case& c : cases) {
        choose(c.from);
        port()->setText(QString::fromLatin1(c.before));
        choose(c.to);
        EXPECT_EQ(port()->text(), QString::fromLatin1(c.after)) << c.before;
    }
}

TEST_F(ProtocolTest, AJobPutIntoTheFieldsKeepsItsOwnPort)
{
    // "21" with SFTP means 22 to the engine; the window does not rewrite it.
    JobSettings stored;
    stored.host = QStringLiteral("sftp.example.org");
    stored.userName = QStringLiteral("anna");
    stored.localFolder = QStringLiteral("/srv/in");
    stored.protocol = JobSettings::Protocol::Sftp;
    store().save(stored);
    trigger(Command::OpenConfiguration);
    EXPECT_EQ(hooks().jobSettings().port, "21");
    EXPECT_EQ(hooks().jobSettings().protocol, JobSettings::Protocol::Sftp);
    EXPECT_FALSE(hooks().flags().configChanged);
    for (const char* name : kFtpOnly)
        EXPECT_FALSE(on(name)) << name;

    // Clear All from an SFTP job on port 22: FTP on port 21.
    port()->setText(QStringLiteral("22"));
    trigger(Command::ClearAll);
    EXPECT_EQ(hooks().jobSettings().port, "21");
    EXPECT_EQ(hooks().jobSettings().protocol, JobSettings::Protocol::Ftp);
    for (const char* name : kFtpOnly)
        EXPECT_TRUE(on(name)) << name;
    for (const char* name : kKeyControls)
        EXPECT_FALSE(on(name)) << name;
}

TEST_F(ProtocolTest, ChangingTheHostOrTheProtocolForgetsTheTrustedHostKey)
{
    JobSettings stored;
    stored.host = QStringLiteral("sftp.example.org");
    stored.userName = QStringLiteral("anna");
    stored.localFolder = QStringLiteral("/srv/in");
    stored.protocol = JobSettings::Protocol::Sftp;
    stored.port = QStringLiteral("2222");
    stored.trustedHostKey = kHostKey;
    store().save(stored);

    const std::pair<const char*, std::function<void()>> changes[] = {
        { "host", [this] { child<QLineEdit>("Edit1")->setText(QStringLiteral("other.example.org")); } },
        { "protocol", [this] { choose(JobSettings::Protocol::Ftp); } },
    };
    for (const auto& [what, change] : changes) {
        trigger(Command::OpenConfiguration);
        ASSERT_EQ(hooks().jobSettings().trustedHostKey, kHostKey) << what;
        // The user name, the password, the key and the port leave it.
        child<QLineEdit>("Edit3")->setText(QStringLiteral("bert"));
        child<QLineEdit>("Edit4")->setText(QStringLiteral("pw"));
        child<QLineEdit>("KeyFileEdit")->setText(QStringLiteral("/k"));
        port()->setText(QStringLiteral("2200"));
        EXPECT_EQ(hooks().jobSettings().trustedHostKey, kHostKey) << what;
        change();
        EXPECT_EQ(hooks().jobSettings().trustedHostKey, QString()) << what;
    }
}

TEST_F(ProtocolTest, TheSftpValuesGoFromTheFieldsToTheStoreAndBack)
{
    choose(JobSettings::Protocol::Sftp);
    child<QLineEdit>("Edit1")->setText(QStringLiteral("sftp.example.org"));
    child<QLineEdit>("Edit3")->setText(QStringLiteral("anna"));
    child<QLineEdit>("Edit5")->setText(QStringLiteral("/srv/in"));
    child<QLineEdit>("KeyFileEdit")->setText(QStringLiteral("/home/anna/.ssh/id_ed25519"));
    child<QLineEdit>("KeyPassphraseEdit")->setText(QStringLiteral("phr\u00e4se"));
    EXPECT_EQ(child<QLineEdit>("KeyPassphraseEdit")->echoMode(), QLineEdit::Password);
    const JobSettings typed = hooks().jobSettings();
    EXPECT_EQ(typed.protocol, JobSettings::Protocol::Sftp);
    EXPECT_EQ(typed.port, "22");
    EXPECT_EQ(typed.keyFile, "/home/anna/.ssh/id_ed25519");
    EXPECT_EQ(typed.keyPassphrase, "phr\u00e4se");
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
    trigger(Command::SaveConfiguration);

    const LoadResult loaded = store().load(JobSettings {});
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.settings, typed);

    // And back into the fields, with a host key trusted meanwhile.
    JobSettings stored = typed;
    stored.trustedHostKey = kHostKey;
    store().save(stored);
    trigger(Command::ClearAll);
    ASSERT_EQ(hooks().jobSettings().protocol, JobSettings::Protocol::Ftp);
    trigger(Command::OpenConfiguration);
    EXPECT_EQ(hooks().jobSettings(), stored);
    EXPECT_EQ(protocol()->currentText(), "SFTP");
    EXPECT_EQ(child<QLineEdit>("KeyFileEdit")->text(), "/home/anna/.ssh/id_ed25519");
}

TEST_F(ProtocolTest, BrowseSetsTheKeyFileOnlyWhenConfirmedAndStartsAtItsFolder)
{
    choose(JobSettings::Protocol::Sftp);
    auto* keyFile = child<QLineEdit>("KeyFileEdit");
    const QString keys = dir(QStringLiteral("keys"));
    ASSERT_TRUE(QDir().mkpath(keys));
    keyFile->setText(keys + QStringLiteral("/id_rsa"));

    filePicker.answer.reset();
    child<QToolButton>("KeyFileBrowse")->click();
    EXPECT_EQ(keyFile->text(), keys + QStringLiteral("/id_rsa"));
    filePicker.answer = keys + QStringLiteral("/id_ed25519");
    child<QToolButton>("KeyFileBrowse")->click();
    EXPECT_EQ(keyFile->text(), keys + QStringLiteral("/id_ed25519"));
    ASSERT_EQ(filePicker.startFolders.size(), 2u);
    EXPECT_EQ(filePicker.startFolders[0], keys);
    EXPECT_EQ(filePicker.titles[0], "Private key file");

    // Without a key file (or with one in a missing folder): ~/.ssh, else home.
    const QString ssh = QDir::home().filePath(QStringLiteral(".ssh"));
    const QString fallback = QDir(ssh).exists() ? ssh : QDir::homePath();
    for (const QString& field : { QString(), dir(QStringLiteral("missing/id_rsa")) }) {
        keyFile->setText(field);
        filePicker.startFolders.clear();
        child<QToolButton>("KeyFileBrowse")->click();
        ASSERT_EQ(filePicker.startFolders.size(), 1u);
        EXPECT_EQ(filePicker.startFolders.front(), fallback) << field.toStdString();
    }
}

} // namespace
} // namespace taskhaul::test
