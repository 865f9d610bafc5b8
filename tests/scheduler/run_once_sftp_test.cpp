// The headless runner with an SFTP job: the built program, a saved job in a
// private settings folder and home, and the test's own sshd.
#include "program_process.h"
#include "settings/settings_store.h"
#include "sftp/sshd_server.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <random>
#include <string>

namespace taskhaul::test {
namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

class RunOnceSftp : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server_ = std::make_unique<SshdServer>();
        server_->Start();
    }
    static void TearDownTestSuite() { server_.reset(); }

    RunOnceSftp()
    {
        QDir work(path(QString()));
        for (const char* folder : { "in", "state", "home/.ssh", "remote" })
            work.mkpath(QLatin1String(folder));
        // The log lies beside the program: a copy of it keeps this test's log apart.
        const QString built = QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul");
        EXPECT_TRUE(QFile::copy(built, program())) << built.toStdString();
        // SFTP comes as a module beside the program, as in the build folder and the installation.
        EXPECT_TRUE(
            QFile::copy(QStringLiteral(TASKHAUL_SFTP_MODULE), path(QStringLiteral("taskhaul-sftp.so"))));

        std::mt19937 random(11);
        large.resize((3u << 20) / 2 + 17);
        for (auto& byte : large)
            byte = static_cast<char>(random());
        WriteFile(remote("large.bin"), large);
        WriteFile(remote("small.txt"), "small");

        job.protocol = JobSettings::Protocol::Sftp;
        job.host = QStringLiteral("127.0.0.1");
        job.port = QString::number(server_->Port());
        job.userName = q(server_->User());
        job.keyFile = q(server_->KeyPath("plain"));
        job.remoteFolder = path(QStringLiteral("remote"));
        job.localFolder = path(QStringLiteral("in"));
        job.fileKind = JobSettings::FileKind::AllFiles;
        job.overwrite = true;
    }

    QString path(const QString& name) const { return work.path() + QLatin1Char('/') + name; }
    std::string remote(const std::string& name) const
    {
        return path(QStringLiteral("remote/")).toStdString() + name;
    }
    QString program() const { return path(QStringLiteral("taskhaul")); }
    QString storeFile() const { return path(QStringLiteral("config/Velmora/Taskhaul.conf")); }
    void saveJob() const { SettingsStore(storeFile(), LongTimeFormat {}).save(job); }

    // known_hosts in the program's home: the line given, or no file.
    void knownHosts(const std::optional<std::string>& line) const
    {
        const std::string file = path(QStringLiteral("home/.ssh/known_hosts")).toStdString();
        QFile::remove(q(file));
        if (line)
            WriteFile(file, *line);
    }

    // The program with `option`, no display, no agent, and private folders.
    Finished run(const QString& option) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        for (const char* name :
            { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS", "SSH_AUTH_SOCK" })
            environment.remove(QLatin1String(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program(), { option });
        return finishProgram(process);
    }

    QString logText() const
    {
        QFile file(path(QStringLiteral("dunmark.txt")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    std::string fetched(const QString& name) const
    {
        QFile file(path(QStringLiteral("in/")) + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<missing>");
    }

    static std::unique_ptr<SshdServer> server_;
    QTemporaryDir work;
    JobSettings job;
    std::string large;
};

std::unique_ptr<SshdServer> RunOnceSftp::server_;

TEST_F(RunOnceSftp, FetchesTheFilesWhenTheKeyIsKnownOrTrusted)
{
    const struct {
        const char* name;
        std::optional<std::string> knownHosts;
        QString trusted;
        const char* keyFile;
        QString passphrase;
    } cases[] = {
        { "known_hosts", server_->KnownHostsLine(), QString(), "plain", QString() },
        { "trusted with the job", std::nullopt, q(server_->HostKeyFingerprint()), "locked",
            QString::fromLatin1(SshdServer::LockedPassphrase) },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path(QStringLiteral("in"))).removeRecursively();
        QDir(path(QString())).mkpath(QStringLiteral("in"));
        knownHosts(c.knownHosts);
        job.trustedHostKey = c.trusted;
        job.keyFile = q(server_->KeyPath(c.keyFile));
        job.keyPassphrase = c.passphrase;
        saveJob();

        const Finished result = run(QStringLiteral("--run-once"));

        EXPECT_EQ(result.exitCode, 0) << result.out.toStdString() << result.err.toStdString();
        EXPECT_TRUE(fetched(QStringLiteral("large.bin")) == large);
        EXPECT_EQ(fetched(QStringLiteral("small.txt")), "small");
        EXPECT_EQ(QDir(path(QStringLiteral("in"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
        for (const QString& line : { QStringLiteral("Signed in with the key file."),
                 job.userName + QStringLiteral(" connected to 127.0.0.1"),
                 QStringLiteral("Transferring sftp://127.0.0.1:") + job.port + job.remoteFolder
                     + QStringLiteral("/large.bin => ") + path(QStringLiteral("in/large.bin")),
                 QStringLiteral("Data transfer complete (1,572,881 Bytes)"),
                 job.userName + QStringLiteral(" disconnected from 127.0.0.1") })
            EXPECT_TRUE(result.out.contains(line)) << line.toStdString() << "\n" << result.out.toStdString();
    }
    // The key the job trusts stays with it.
    EXPECT_EQ(SettingsStore(storeFile(), LongTimeFormat {}).load(JobSettings {}).settings.trustedHostKey,
        q(server_->HostKeyFingerprint()));
}

TEST_F(RunOnceSftp, AnUnknownKeyFailsTheRunWithTheFingerprintInTheLog)
{
    knownHosts(std::nullopt);
    saveJob();

    const Finished result = run(QStringLiteral("--run-once"));

    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(QDir(path(QStringLiteral("in"))).isEmpty());
    const QString log = logText();
    const qsizetype reason = log.indexOf(QStringLiteral("Reason: "));
    ASSERT_GE(reason, 0) << log.toStdString();
    EXPECT_TRUE(log.mid(reason).section(QLatin1Char('\n'), 0, 0).contains(q(server_->HostKeyFingerprint())))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: The FTP site information specified is not valid")));
    // Nobody was asked: no question reached the terminal.
    EXPECT_FALSE(result.err.contains(QStringLiteral("Trust this host key"))) << result.err.toStdString();
}

// The keyring is asked only for what the run needs: without a session bus (as
// under cron) a key file without a passphrase still signs in, though the job
// keeps its password in the keyring; a passphrase kept there holds the run back.
TEST_F(RunOnceSftp, WithoutAKeyringOnlyTheSecretsTheRunNeedsHoldItBack)
{
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(TASKHAUL_KEYRING_MODULE), path(QStringLiteral("taskhaul-keyring.so"))));
    knownHosts(server_->KnownHostsLine());
    const QString why = QStringLiteral("No desktop keyring is available; the passwords could not be read.");
    const struct {
        const char* keyFile;
        bool passphraseInKeyring;
        int exitCode;
    } cases[] = { { "plain", false, 0 }, { "locked", true, 1 } };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keyFile);
        QFile::remove(path(QStringLiteral("dunmark.txt")));
        QDir(path(QStringLiteral("in"))).removeRecursively();
        QDir(path(QString())).mkpath(QStringLiteral("in"));
        job.keyFile = q(server_->KeyPath(c.keyFile));
        job.password = QStringLiteral("only a last resort");
        job.keyPassphrase
            = c.passphraseInKeyring ? QString::fromLatin1(SshdServer::LockedPassphrase) : QString();
        saveJob();
        // The secrets as a keyring keeps them: empty in the file.
        QSettings settings(storeFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Options/UseKeyring"), QStringLiteral("True"));
        settings.setValue(QStringLiteral("Options/Password"), QString());
        if (c.passphraseInKeyring)
            settings.setValue(QStringLiteral("Options/KeyPassphrase"), QString());
        settings.sync();

        const Finished result = run(QStringLiteral("--run-once"));

        EXPECT_EQ(result.exitCode, c.exitCode) << result.out.toStdString() << result.err.toStdString();
        const QString log = logText();
        EXPECT_TRUE(log.contains(QStringLiteral("WARNING: ") + why)) << log.toStdString();
        EXPECT_EQ(log.contains(QStringLiteral("Run skipped: ") + why), c.passphraseInKeyring)
            << log.toStdString();
        EXPECT_EQ(log.contains(QStringLiteral("Signed in with the key file.")), !c.passphraseInKeyring)
            << log.toStdString();
        EXPECT_EQ(fetched(QStringLiteral("small.txt")), c.passphraseInKeyring ? "<missing>" : "small");
    }
}

// Without its module SFTP cannot be used: the job cannot run as it is, and the
// log says why.
TEST_F(RunOnceSftp, AMissingModuleSaysSoAndTheJobIsUnusable)
{
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("taskhaul-sftp.so"))));
    saveJob();

    const Finished result = run(QStringLiteral("--run-once"));

    EXPECT_EQ(result.exitCode, 2) << result.out.toStdString() << result.err.toStdString();
    EXPECT_TRUE(
        logText().contains(QStringLiteral("Reason: SFTP cannot be used: its module could not be loaded (")))
        << logText().toStdString();
    EXPECT_TRUE(QDir(path(QStringLiteral("in"))).isEmpty());
}

TEST_F(RunOnceSftp, PreviewShowsTheHostKeyAndWhetherItIsKnownThenThePlan)
{
    const QString fingerprint = q(server_->HostKeyFingerprint());
    const struct {
        const char* name;
        std::optional<std::string> knownHosts;
        QString trusted;
        const char* verification;
        int exitCode;
    } cases[] = {
        { "known", server_->KnownHostsLine(), QString(), "known (~/.ssh/known_hosts)", 0 },
        { "trusted", std::nullopt, fingerprint, "trusted (kept with the job)", 0 },
        { "unknown", std::nullopt, QString(), "unknown", 1 },
        { "changed", server_->KnownHostsLineWithOtherKey(), QString(), "changed", 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        knownHosts(c.knownHosts);
        job.trustedHostKey = c.trusted;
        saveJob();

        const Finished result = run(QStringLiteral("--preview"));

        EXPECT_EQ(result.exitCode, c.exitCode) << result.err.toStdString();
        const QStringList out = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_GE(out.size(), 3) << result.out.toStdString() << result.err.toStdString();
        EXPECT_EQ(out.mid(0, 3),
            (QStringList { QStringLiteral("Host key type: ") + q(server_->HostKeyType()),
                QStringLiteral("Host key SHA-256 fingerprint: ") + fingerprint,
                QStringLiteral("Host key verification: ") + QLatin1String(c.verification) }));
        if (c.exitCode == 0) {
            EXPECT_TRUE(result.err.contains(QStringLiteral("Listing: SFTP"))) << result.err.toStdString();
            EXPECT_EQ(out.mid(3).size(), 2) << result.out.toStdString();
            EXPECT_TRUE(out.contains(
                QStringLiteral("file\tfetch\tsmall.txt\t") + path(QStringLiteral("in/small.txt"))))
                << result.out.toStdString();
        } else {
            EXPECT_EQ(out.size(), 3) << result.out.toStdString();
        }
        // A preview fetches nothing and leaves the log alone.
        EXPECT_TRUE(QDir(path(QStringLiteral("in"))).isEmpty());
        EXPECT_TRUE(logText().isEmpty());
    }
}

} // namespace
} // namespace taskhaul::test
