// The headless runner end to end: the built program, a saved job in a private
// settings folder, and a real FTP server (pyftpdlib).
#include "ftp/pyftpd_server.h"
#include "ftp/scripted_ftp_server.h"
#include "ftp/tls_servers.h"
#include "program_process.h"
#include "settings/settings_store.h"
#include "transfer/leftovers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

#include <sys/resource.h>

namespace taskhaul::test {
namespace {

class RunOnce : public ::testing::Test {
protected:
    RunOnce()
    {
        server.writeFile("a.txt", "alpha");
        server.writeFile("b.txt", "beta");
        QDir(work.path()).mkpath(QStringLiteral("in"));
        QDir(work.path()).mkpath(QStringLiteral("state"));
        // The log lies beside the program: a copy of it keeps this test's log apart.
        const QString built = QStringLiteral(TASKHAUL_BINARY_DIR "/src/app/taskhaul");
        EXPECT_TRUE(QFile::copy(built, program())) << built.toStdString();

        job.host = QString::fromStdString(server.host());
        job.port = QString::number(server.port());
        job.userName = QString::fromStdString(server.user());
        job.password = QString::fromStdString(server.password());
        job.localFolder = path(QStringLiteral("in"));
        job.fileKind = JobSettings::FileKind::AllFiles;
        job.passive = true;
    }

    QString path(const QString& name) const { return work.path() + QLatin1Char('/') + name; }
    QString program() const { return path(QStringLiteral("taskhaul")); }
    QString storeFile() const { return path(QStringLiteral("config/Velmora/Taskhaul.conf")); }

    void saveJob() const { SettingsStore(storeFile(), LongTimeFormat {}).save(job); }
    JobSettings savedJob() const
    {
        return SettingsStore(storeFile(), LongTimeFormat {}).load(JobSettings {}).settings;
    }

    // The program started with `option`, with no display and private folders.
    void start(QProcess& process, const QString& option) const { start(process, program(), { option }); }
    void start(QProcess& process, const QString& command, const QStringList& arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        // No display of any kind, and no session bus (so no desktop keyring).
        for (const char* name :
            { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS" })
            environment.remove(QLatin1String(name));
        for (const auto& [name, value] : extraEnvironment) {
            if (value.isNull())
                environment.remove(name);
            else
                environment.insert(name, value);
        }
        process.setProcessEnvironment(environment);
        process.start(command, arguments);
    }

    static Finished finish(QProcess& process) { return finishProgram(process); }

    Finished run(const QString& option) const
    {
        QProcess process;
        start(process, option);
        return finish(process);
    }

    QString logText() const
    {
        QFile file(path(QStringLiteral("dunmark.txt")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QByteArray fetched(const QString& name) const
    {
        QFile file(path(QStringLiteral("in/")) + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    PyFtpdServer server;
    QTemporaryDir work;
    JobSettings job;
    // Set (or, with a null value, removed) in the program's environment.
    std::vector<std::pair<QString, QString>> extraEnvironment;
};

TEST_F(RunOnce, FetchesTheSavedJobsFilesAndExitsZero)
{
    saveJob();
    const Finished result = run(QStringLiteral("--run-once"));

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
    EXPECT_EQ(fetched(QStringLiteral("b.txt")), "beta");
    const QString log = logText();
    for (const QString& expected : { job.userName + QStringLiteral(" connected to 127.0.0.1"),
             QStringLiteral("Data transfer complete (5 Bytes)"),
             job.userName + QStringLiteral(" disconnected from 127.0.0.1") }) {
        EXPECT_TRUE(log.contains(expected)) << expected.toStdString() << "\n" << log.toStdString();
        EXPECT_TRUE(result.out.contains(expected)) << expected.toStdString();
    }
    // Not on a terminal: no progress line, no escape sequences.
    EXPECT_FALSE(result.err.contains(QLatin1Char('\x1b'))) << result.err.toStdString();
    // Stdout carries the log's lines, time stamps and all.
    EXPECT_EQ(result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
        log.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

// On a terminal each download shows on one line, named after its local file and
// sized as the engine announced it, and the line is wiped when it ends.
TEST_F(RunOnce, OnATerminalEachDownloadShowsOnOneLine)
{
    saveJob();
    QProcess process;
    // script(1) gives the program a terminal and copies what it writes.
    start(process, QStringLiteral("script"),
        { QStringLiteral("-qec"), program() + QStringLiteral(" --run-once"), QStringLiteral("/dev/null") });
    const Finished result = finish(process);

    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
    for (const char* line : { "\ra.txt: 0 B of 5 B\x1b[K", "\rb.txt: 0 B of 4 B\x1b[K" })
        EXPECT_TRUE(result.out.contains(QLatin1String(line))) << line << "\n" << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("\r\x1b[K"))) << result.out.toStdString();
}

TEST_F(RunOnce, SavesTheSequenceNumberTheRunAdvanced)
{
    server.writeFile("report7.csv", "r7");
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("report[seq].csv");
    job.sequenceStart = 7;
    saveJob();

    EXPECT_EQ(run(QStringLiteral("--run-once")).exitCode, 0);
    EXPECT_EQ(fetched(QStringLiteral("report7.csv")), "r7");
    EXPECT_EQ(savedJob().sequenceStart, 8);
    // Nothing else of the job changed.
    JobSettings expected = job;
    expected.sequenceStart = 8;
    EXPECT_EQ(savedJob(), expected);
}

TEST_F(RunOnce, WrongPasswordExitsOneWithTheErrorInTheLog)
{
    job.password = QStringLiteral("wrong");
    saveJob();
    const Finished result = run(QStringLiteral("--run-once"));

    EXPECT_EQ(result.exitCode, 1);
    const QString error = QStringLiteral("ERROR: The FTP site information specified is not valid or the site "
                                         "cannot be accessed at this time.");
    EXPECT_TRUE(logText().contains(error)) << logText().toStdString();
    EXPECT_TRUE(result.out.contains(error));
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "<missing>");
}

TEST_F(RunOnce, ARetryWaitsAsTheJobSaysAndATerminationSignalEndsTheWait)
{
    job.password = QStringLiteral("wrong");
    job.retries = 2;
    job.retryDelayMinutes = 1;
    saveJob();
    QProcess process;
    start(process, QStringLiteral("--run-once"));
    // The line reaches the pipe (the journal, a cron mail) before the wait, not
    // when the program ends.
    const QString retrying = QStringLiteral("Retrying in 1 minute(s) (attempt 1 of 2).");
    QString out;
    for (int i = 0; i < 300 && !out.contains(retrying); ++i) {
        process.waitForReadyRead(100);
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
    }
    ASSERT_TRUE(out.contains(retrying)) << out.toStdString();
    EXPECT_TRUE(logText().contains(retrying)) << logText().toStdString();

    QElapsedTimer sinceSignal;
    sinceSignal.start();
    // A program that has already ended has no pid (0): a signal to 0 would
    // reach the whole process group, the test runner included.
    const auto pid = static_cast<pid_t>(process.processId());
    ASSERT_GT(pid, 0) << "the program ended before its signal";
    ::kill(pid, SIGTERM);
    const Finished result = finish(process);
    EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err.toStdString();
    EXPECT_LT(sinceSignal.elapsed(), 10000);
    EXPECT_FALSE(logText().contains(QStringLiteral("attempt 2 of 2"))) << logText().toStdString();
}

TEST_F(RunOnce, SkippedFileExitsOne)
{
    QFile existing(path(QStringLiteral("in/a.txt")));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();
    job.overwrite = false;
    saveJob();

    EXPECT_EQ(run(QStringLiteral("--run-once")).exitCode, 1);
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "old");
    EXPECT_EQ(fetched(QStringLiteral("b.txt")), "beta");
}

TEST_F(RunOnce, ExitStatusComesFromWhatTheRunDidNotFromTheLogsWording)
{
    // A folder the server lists only in part: what was listed is fetched, and
    // the run still counts as failed.
    ScriptedFtpServer scripted;
    scripted.setListing("-rw-r--r--    1 ftp      ftp             5 Mar 01  2024 a.txt\r\n");
    scripted.addFile("a.txt", "alpha");
    DataPlan cutShort;
    cutShort.final = "226-Options: -l\r\n226 Output truncated to 10000 matches\r\n";
    scripted.setDataPlan("LIST", cutShort);
    job.host = QString::fromStdString(scripted.host());
    job.port = QString::number(scripted.port());
    saveJob();

    Finished result = run(QStringLiteral("--run-once"));
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
    EXPECT_TRUE(result.out.contains(QStringLiteral("WARNING: The server cut the listing short")));

    // A one-file template that matches nothing is not a failure.
    scripted.setDataPlan("LIST", DataPlan {});
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("nothing-like-this.*");
    saveJob();
    result = run(QStringLiteral("--run-once"));
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("No file on the site matches \"nothing-like-this.*\".")));
}

TEST_F(RunOnce, TerminationSignalAbortsTheDownloadAndLeavesNoDebris)
{
    // A large file that reads fast (sparse) and an older copy that must survive.
    {
        std::ofstream big(server.root() + "/big.iso", std::ios::binary);
        big.seekp((std::int64_t(4) << 30) - 1);
        big.put('\0');
    }
    QFile older(path(QStringLiteral("in/big.iso")));
    ASSERT_TRUE(older.open(QIODevice::WriteOnly));
    older.write("older copy");
    older.close();
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("big.iso");
    saveJob();

    QProcess process;
    start(process, QStringLiteral("--run-once"));
    // Wait until the download is under way: its temporary file exists.
    const QDir in(path(QStringLiteral("in")));
    QStringList temporaries;
    for (int i = 0; i < 3000 && temporaries.isEmpty(); ++i) {
        QThread::msleep(10);
        temporaries = in.entryList({ QStringLiteral(".big.iso.taskhaul-*") }, QDir::Files | QDir::Hidden);
    }
    ASSERT_FALSE(temporaries.isEmpty()) << "the download never started";
    // A program that has already ended has no pid (0): a signal to 0 would
    // reach the whole process group, the test runner included.
    const auto pid = static_cast<pid_t>(process.processId());
    ASSERT_GT(pid, 0) << "the program ended before its signal";
    ::kill(pid, SIGTERM);
    const Finished result = finish(process);

    EXPECT_EQ(result.exitCode, 128 + SIGTERM) << result.err.toStdString();
    EXPECT_EQ(in.entryList(QDir::Files | QDir::Hidden), QStringList({ QStringLiteral("big.iso") }));
    EXPECT_EQ(fetched(QStringLiteral("big.iso")), "older copy");
    EXPECT_TRUE(logText().contains(QStringLiteral("Operation aborted"))) << logText().toStdString();
}

TEST_F(RunOnce, PreviewOverTlsShowsTheServersCertificate)
{
    TestCertificates certificates;
    TlsPyFtpdServer tls(certificates.SelfSigned());
    tls.writeFile("a.txt", "alpha");
    const std::string fingerprint = TestCertificates::Fingerprint(certificates.SelfSigned().certificate);
    job.port = QString::number(tls.port());
    job.userName = QString::fromStdString(tls.user());
    job.password = QString::fromStdString(tls.password());
    job.security = JobSettings::Security::Explicit;

    // Trusted, never trusted, and trusted before but changed since: the
    // details are there whenever the user has to decide.
    struct Case {
        const char* name;
        QString trusted;
        int exitCode;
    };
    for (const Case& c : { Case { "trusted", QString::fromStdString(fingerprint), 0 },
             Case { "refused", QString(), 1 }, Case { "changed", QString(64, QLatin1Char('A')), 1 } }) {
        job.trustedCertificate = c.trusted;
        saveJob();

        const Finished result = run(QStringLiteral("--preview"));

        EXPECT_EQ(result.exitCode, c.exitCode) << c.name << result.err.toStdString();
        const QString out = result.out;
        for (const QString& line :
            { QStringLiteral("Certificate subject: O = Taskhaul tests, CN = localhost"),
                QStringLiteral("Certificate issuer: O = Taskhaul tests, CN = localhost"),
                QStringLiteral("Certificate SHA-256 fingerprint: ")
                    + QString::fromStdString(
                        TestCertificates::ColonFingerprint(certificates.SelfSigned().certificate)) })
            EXPECT_TRUE(out.contains(line + QLatin1Char('\n'))) << c.name << out.toStdString();
        EXPECT_TRUE(out.contains(QRegularExpression(
            QStringLiteral("Certificate valid: from 20\\d\\d-.* UTC to 20\\d\\d-.* UTC\n"))))
            << c.name << out.toStdString();
        EXPECT_EQ(out.contains(QStringLiteral("file\tfetch\ta.txt")), c.exitCode == 0) << c.name;
    }
}

// A TLS data connection that ends without close_notify may have been cut
// anywhere (a forged TCP FIN looks the same), whatever the server replies.
TEST_F(RunOnce, ATlsDataConnectionWithoutATlsCloseFailsTheRun)
{
    TestCertificates certificates;
    job.userName = QStringLiteral("alice");
    job.password = QStringLiteral("wonder");
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.Server().certificate));
    const QString unclosed = QStringLiteral("the data connection ended without a TLS close.");
    const QByteArray content = QByteArray::fromStdString(TlsFaultServer::Content());
    for (const bool clean : { false, true }) {
        TlsFaultServer server(certificates.Server(), clean ? "clean" : "cut");
        job.port = QString::number(server.port());
        saveJob();
        QDir in(path(QStringLiteral("in")));
        in.removeRecursively();
        in.mkpath(QStringLiteral("."));
        QFile older(path(QStringLiteral("in/big.bin")));
        ASSERT_TRUE(older.open(QIODevice::WriteOnly));
        older.write("older copy");
        older.close();

        const Finished result = run(QStringLiteral("--run-once"));

        const QStringList files = in.entryList(QDir::Files | QDir::Hidden);
        if (clean) {
            EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
            EXPECT_EQ(files, QStringList({ QStringLiteral("big.bin"), QStringLiteral("second.bin") }));
            EXPECT_TRUE(fetched(QStringLiteral("big.bin")) == content);
            EXPECT_TRUE(fetched(QStringLiteral("second.bin")) == content);
            EXPECT_FALSE(result.out.contains(unclosed)) << result.out.toStdString();
        } else {
            EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
            // Half a file never takes the place of the older copy; the cut
            // line ("... sec") is not taken for a file.
            EXPECT_EQ(files, QStringList({ QStringLiteral("big.bin") }));
            EXPECT_EQ(fetched(QStringLiteral("big.bin")), "older copy");
            EXPECT_TRUE(
                result.out.contains(QStringLiteral("WARNING: The server cut the listing short: ") + unclosed))
                << result.out.toStdString();
            EXPECT_TRUE(result.out.contains(QStringLiteral("Transfer incomplete: ") + unclosed))
                << result.out.toStdString();
        }
    }
}

// A server that moved from its own certificate to one the system trusts:
// the runs go on, and the stored fingerprint is dropped from the saved job.
TEST_F(RunOnce, AStoredFingerprintTheSystemNoLongerNeedsIsForgotten)
{
    TestCertificates certificates;
    const TrustTestCa trust(certificates); // inherited by the program
    TlsPyFtpdServer tls(certificates.Server());
    tls.writeFile("a.txt", "alpha");
    job.port = QString::number(tls.port());
    job.userName = QString::fromStdString(tls.user());
    job.password = QString::fromStdString(tls.password());
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    saveJob();

    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(run(QStringLiteral("--run-once")).exitCode, 0) << round;

    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
    EXPECT_TRUE(savedJob().trustedCertificate.isEmpty());
    EXPECT_EQ(
        logText().count(QStringLiteral("The server's certificate is now signed by a trusted authority; the "
                                       "stored fingerprint is no longer needed.")),
        1)
        << logText().toStdString();
}

TEST_F(RunOnce, PreviewSentToOneFileKeepsTheOrderOfItsLines)
{
    // The certificate goes to stdout once connected; the failure to enter the
    // remote folder comes later, on stderr. 2>&1 must read in that order.
    TestCertificates certificates;
    TlsPyFtpdServer tls(certificates.SelfSigned());
    job.port = QString::number(tls.port());
    job.userName = QString::fromStdString(tls.user());
    job.password = QString::fromStdString(tls.password());
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    job.remoteFolder = QStringLiteral("no-such-folder");
    saveJob();

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    start(process, QStringLiteral("--preview"));
    const Finished result = finish(process);

    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString();
    const qsizetype certificate = result.out.indexOf(QStringLiteral("Certificate subject: "));
    const qsizetype folder = result.out.indexOf(QStringLiteral("The remote folder specified does not exist"));
    ASSERT_GE(certificate, 0) << result.out.toStdString();
    EXPECT_LT(certificate, folder) << result.out.toStdString();
}

// pyftpdlib offers MLST: the preview says which listing a run would take.
TEST_F(RunOnce, PreviewSaysWhichListingARunWouldUse)
{
    for (const bool onlyNewer : { false, true }) {
        job.onlyNewer = onlyNewer;
        saveJob();
        const Finished result = run(QStringLiteral("--preview"));
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(
            onlyNewer ? QStringLiteral("Listing: MLSD") : QStringLiteral("Listing: LIST")))
            << result.err.toStdString();
        EXPECT_TRUE(result.out.contains(QStringLiteral("file\tfetch\ta.txt"))) << result.out.toStdString();
    }
}

// The preview says how many connections a run would use, and why fewer than
// the job asks for; the run itself fetches over them.
TEST_F(RunOnce, PreviewSaysHowManyConnectionsARunWouldUseAndTheRunUsesThem)
{
    for (int n = 0; n < 6; ++n)
        server.writeFile("c" + std::to_string(n) + ".dat", std::string(3000 + n, static_cast<char>('a' + n)));
    struct Case {
        int connections;
        bool sequence;
        QString line;
    };
    for (const Case& c : { Case { 1, false, QStringLiteral("Connections: 1\n") },
             Case { 4, false, QStringLiteral("Connections: 4\n") },
             Case { 4, true, QStringLiteral("Connections: 1 (the names use the sequence number)\n") } }) {
        job.connections = c.connections;
        job.fileKind = c.sequence ? JobSettings::FileKind::OneFile : JobSettings::FileKind::AllFiles;
        job.fileName = QStringLiteral("c*.dat");
        job.rename = c.sequence;
        job.renameTo = QStringLiteral("copy[seq].dat");
        saveJob();
        const Finished result = run(QStringLiteral("--preview"));
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(c.line)) << c.connections << c.sequence << result.err.toStdString();
    }

    job.connections = 4;
    job.fileKind = JobSettings::FileKind::AllFiles;
    job.rename = false;
    saveJob();
    const Finished result = run(QStringLiteral("--run-once"));
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QStringList fetched = QDir(path(QStringLiteral("in"))).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(fetched.size(), 8) << fetched.join(' ').toStdString();
    for (int n = 0; n < 6; ++n) {
        QFile file(path(QStringLiteral("in/c%1.dat").arg(n)));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), QByteArray(3000 + n, static_cast<char>('a' + n)));
    }
}

TEST_F(RunOnce, UnusableJobExitsTwoAndConnectsNowhere)
{
    struct Case {
        const char* what;
        std::function<void(JobSettings&)> change;
        bool save;
        QString badDelay; // stored over the saved value when not empty
    };
    const Case cases[] {
        { "no saved job", [](JobSettings&) {}, false, {} },
        { "empty host", [](JobSettings& j) { j.host.clear(); }, true, {} },
        { "empty local folder", [](JobSettings& j) { j.localFolder.clear(); }, true, {} },
        { "unreadable value", [](JobSettings&) {}, true, QStringLiteral("abc") },
        // No connection can fix these: never retried, however many retries the job has.
        { "port out of range",
            [](JobSettings& j) {
                j.port = QStringLiteral("70000");
                j.retries = 3;
            },
            true, {} },
        { "port not a number",
            [](JobSettings& j) {
                j.port = QStringLiteral("21x");
                j.retries = 3;
            },
            true, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(storeFile());
        JobSettings saved = job;
        c.change(saved);
        if (c.save)
            SettingsStore(storeFile(), LongTimeFormat {}).save(saved);
        if (!c.badDelay.isEmpty())
            QSettings(storeFile(), QSettings::IniFormat)
                .setValue(QStringLiteral("Options/delay"), c.badDelay);
        const Finished result = run(QStringLiteral("--run-once"));
        EXPECT_EQ(result.exitCode, 2) << result.err.toStdString();
        EXPECT_FALSE(result.err.isEmpty() && result.out.isEmpty());
    }
    EXPECT_FALSE(logText().contains(QLatin1String("connected to")));
    EXPECT_FALSE(logText().contains(QLatin1String("Retrying"))) << logText().toStdString();
}

TEST_F(RunOnce, ASettingsFileThatCannotHoldAJobIsNamedWithTheCauseAndLeftAlone)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        QString cause;
    };
    const auto writeRaw = [this](const QByteArray& content) {
        QFile file(storeFile());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };
    const Case cases[] {
        { "a folder in its place", [this] { QDir().mkpath(storeFile()); },
            QStringLiteral(" cannot be read: it is a folder") },
        { "binary junk",
            [&] {
                writeRaw(QByteArray("\x7f"
                                    "ELF\x02\x01\x00\x00\xff\xfe",
                    10));
            },
            QStringLiteral(" is not a settings file") },
        { "a required key missing",
            [this] {
                saveJob();
                QSettings(storeFile(), QSettings::IniFormat).remove(QStringLiteral("Options/Host"));
            },
            QStringLiteral(" lacks the key Host") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(path(QStringLiteral("config"))).removeRecursively();
        QDir().mkpath(path(QStringLiteral("config/Velmora")));
        c.make();
        const QFileInfo before(storeFile());
        QByteArray original;
        if (QFile file(storeFile()); before.isFile() && file.open(QIODevice::ReadOnly))
            original = file.readAll();

        const Finished result = run(QStringLiteral("--run-once"));

        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(
            result.err.trimmed(), QStringLiteral("The saved job cannot be loaded: ") + storeFile() + c.cause);
        EXPECT_FALSE(result.err.contains(QLatin1String("is not a valid")));
        if (QFile file(storeFile()); before.isFile() && file.open(QIODevice::ReadOnly)) {
            EXPECT_EQ(file.readAll(), original);
            EXPECT_EQ(QFileInfo(storeFile()).lastModified(), before.lastModified());
        }
    }
}

TEST_F(RunOnce, ALockedOrAbsentKeyringSkipsTheRunAsAPassingFailure)
{
    // The passwords are in the keyring, which this session has none of.
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(TASKHAUL_KEYRING_MODULE), path(QStringLiteral("taskhaul-keyring.so"))));
    job.retries = 0;
    saveJob();
    QSettings settings(storeFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Options/Password"), QString());
    settings.setValue(QStringLiteral("Options/UseKeyring"), QStringLiteral("True"));
    settings.sync();

    const Finished result = run(QStringLiteral("--run-once"));

    EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
    const QString why = QStringLiteral("No desktop keyring is available; the passwords could not be read.");
    EXPECT_TRUE(logText().contains(QStringLiteral("WARNING: ") + why)) << logText().toStdString();
    EXPECT_TRUE(logText().contains(QStringLiteral("Run skipped: ") + why)) << logText().toStdString();
    EXPECT_FALSE(logText().contains(QLatin1String("connected to")));
    EXPECT_FALSE(logText().contains(QLatin1String("()")));
}

TEST_F(RunOnce, ASecondRunIntoTheSameFolderStepsAsideWithSeventyFive)
{
    // The first run, as another process holding the folder would: the lock
    // lies in the runtime folder the program is given.
    ASSERT_TRUE(QFile::setPermissions(path(QStringLiteral("state")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("state"))));
    std::optional<LocalFolderRun> first;
    first.emplace(job.localFolder);
    qputenv("XDG_RUNTIME_DIR", runtime);
    ASSERT_TRUE(first->alone());
    saveJob();

    Finished result = run(QStringLiteral("--run-once"));
    EXPECT_EQ(result.exitCode, 75) << result.err.toStdString();
    const QString line = QStringLiteral("Another Taskhaul run is using %1.").arg(job.localFolder);
    EXPECT_TRUE(result.out.contains(line)) << result.out.toStdString();
    EXPECT_TRUE(logText().contains(line));
    EXPECT_FALSE(logText().contains(QLatin1String("connected to")));
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "<missing>");

    first.reset();
    result = run(QStringLiteral("--run-once"));
    EXPECT_EQ(result.exitCode, 0) << result.out.toStdString();
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
}

TEST_F(RunOnce, AFileSizeLimitFailsTheFileAndNotTheRun)
{
    server.writeFile("big.bin", std::string(64 * 1024, 'x'));
    saveJob();
    QProcess process;
    process.setChildProcessModifier([] {
        const rlimit limit { 16 * 1024, 16 * 1024 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    start(process, QStringLiteral("--run-once"));
    const Finished result = finish(process);

    EXPECT_EQ(result.exitCode, 1) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("File too large"))) << result.out.toStdString();
    EXPECT_EQ(fetched(QStringLiteral("a.txt")), "alpha");
    EXPECT_EQ(fetched(QStringLiteral("b.txt")), "beta");
    // No partial file and no temporary left behind.
    EXPECT_EQ(QDir(path(QStringLiteral("in"))).entryList(QDir::Files | QDir::Hidden, QDir::Name),
        QStringList({ QStringLiteral("a.txt"), QStringLiteral("b.txt") }));
}

// A disk that fills up part-way through a download: the local folder is a
// 32 KiB tmpfs, mounted in a user and mount namespace of the program's own.
// The download stops at the disk's reserve (1 % of it here), before the disk
// is full. The file is reported failed, its temporary is removed and the older
// copy stays as it was.
TEST_F(RunOnce, AFullDiskFailsTheFileKeepsTheOlderCopyAndLeavesNoTemporary)
{
    QProcess probe;
    probe.start(QStringLiteral("unshare"),
        { QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
            QStringLiteral("true") });
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        GTEST_SKIP() << "no user and mount namespaces here";

    server.writeFile("big.bin", std::string(256 * 1024, 'x'));
    saveJob();
    // The folder only exists inside the namespace: its state is copied out.
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=32k tmpfs in || exit 99; printf old > in/big.bin; ./taskhaul --run-once;"
        " rc=$?; ls -A in > after.txt; cp in/big.bin kept.bin; exit $rc");
    QProcess process;
    process.setWorkingDirectory(work.path());
    start(process, QStringLiteral("unshare"),
        { QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
            QStringLiteral("sh"), QStringLiteral("-c"), script });
    const Finished result = finish(process);

    ASSERT_NE(result.exitCode, 99) << result.err.toStdString();
    EXPECT_EQ(result.exitCode, 1) << result.out.toStdString() << result.err.toStdString();
    const QString skipped = QStringLiteral(
        "WARNING: File skipped: Cannot write file \"%1\". Download stopped: the local disk would "
        "have less than 327 bytes free.")
                                .arg(path(QStringLiteral("in/big.bin")));
    EXPECT_TRUE(result.out.contains(skipped)) << result.out.toStdString();
    QFile after(path(QStringLiteral("after.txt")));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    QStringList names = QString::fromUtf8(after.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    names.sort();
    EXPECT_EQ(
        names, QStringList({ QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("big.bin") }));
    QFile kept(path(QStringLiteral("kept.bin")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
}

TEST_F(RunOnce, PreviewListsWhatARunWouldFetchAndDownloadsNothing)
{
    server.writeFile("notes.log", "n");
    server.makeFolder("sub.txt");
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("*.TXT");
    job.rename = true;
    job.renameTo = QStringLiteral("copy[seq].txt");
    job.sequenceStart = 1;
    saveJob();

    const Finished result = run(QStringLiteral("--preview"));

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    const QString in = path(QStringLiteral("in/"));
    EXPECT_EQ(lines,
        (QStringList { QStringLiteral("dir\tskip\tsub.txt\t(not a plain file)"),
            QStringLiteral("file\tfetch\ta.txt\t") + in + QStringLiteral("copy1.txt"),
            QStringLiteral("file\tfetch\tb.txt\t") + in + QStringLiteral("copy2.txt"),
            QStringLiteral("file\tskip\tnotes.log\t(does not match *.TXT)") }));
    EXPECT_TRUE(QDir(in).isEmpty());
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("dunmark.txt"))));
    EXPECT_EQ(savedJob().sequenceStart, 1);
}

TEST_F(RunOnce, LoadsTheKeyringModuleOnlyForAJobThatKeepsItsPasswordsThere)
{
    // The module beside the program, as in the build folder and the installation.
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(TASKHAUL_KEYRING_MODULE), path(QStringLiteral("taskhaul-keyring.so"))));
    // The dynamic loader names every library it loads; no session bus, so the
    // keyring, once loaded, finds none.
    extraEnvironment = { { QStringLiteral("LD_DEBUG"), QStringLiteral("files") },
        { QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString() } };

    for (const bool useKeyring : { false, true }) {
        job.useKeyring = useKeyring;
        saveJob();
        // The passwords as a keyring keeps them: empty in the file.
        QSettings(storeFile(), QSettings::IniFormat).setValue(QStringLiteral("Options/Password"), QString());

        const Finished result = run(QStringLiteral("--run-once"));
        for (const char* library : { "taskhaul-keyring.so", "libqt6keychain", "libQt6DBus" })
            EXPECT_EQ(result.err.contains(QLatin1String(library)), useKeyring)
                << library << (useKeyring ? " is not loaded" : " is loaded") << "\n"
                << result.err.toStdString();
        EXPECT_EQ(result.err.contains(
                      QStringLiteral("No desktop keyring is available; the passwords could not be read.")),
            useKeyring);
    }

    // Without its module, the run says so.
    QFile::remove(path(QStringLiteral("taskhaul-keyring.so")));
    extraEnvironment.erase(extraEnvironment.begin()); // LD_DEBUG
    const Finished result = run(QStringLiteral("--run-once"));
    EXPECT_TRUE(
        result.err.contains(QStringLiteral("The desktop keyring cannot be used (its module could not be "
                                           "loaded: ")))
        << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(path(QStringLiteral("../libexec/taskhaul/taskhaul-keyring.so"))))
        << result.err.toStdString();
}

// The local names --preview prints are the names the run then uses: a file
// kept because a copy of its name exists fetches nothing, so it leaves the
// sequence number, and with it the next file's name, where it was.
TEST_F(RunOnce, PreviewNamesTheFilesAsTheRunDoesWhenACopyExists)
{
    job.fileKind = JobSettings::FileKind::OneFile;
    job.fileName = QStringLiteral("*.txt");
    job.rename = true;
    job.renameTo = QStringLiteral("copy[seq].txt");
    job.sequenceStart = 1;
    job.overwrite = false;
    saveJob();
    const QString in = path(QStringLiteral("in/"));
    {
        QFile existing(in + QStringLiteral("copy1.txt"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
        existing.write("kept");
    }

    const Finished preview = run(QStringLiteral("--preview"));
    EXPECT_EQ(preview.exitCode, 0) << preview.err.toStdString();
    QStringList previewed;
    const QRegularExpression exists(
        QStringLiteral("^file\\tskip\\t(\\S+)\\t\\((.*) exists and overwrite is off\\)$"));
    for (const QString& line : preview.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = exists.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        previewed << match.captured(1) + QStringLiteral(" => ") + match.captured(2);
    }

    const Finished result = run(QStringLiteral("--run-once"));
    QStringList used;
    const QRegularExpression transferring(QStringLiteral("Transferring ftp://")
        + QRegularExpression::escape(job.host) + QStringLiteral(":\\d+/(\\S+) => (\\S+)$"));
    for (const QString& line : result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (const QRegularExpressionMatch match = transferring.match(line); match.hasMatch())
            used << match.captured(1) + QStringLiteral(" => ") + match.captured(2);

    EXPECT_EQ(previewed,
        QStringList({ QStringLiteral("a.txt => ") + in + QStringLiteral("copy1.txt"),
            QStringLiteral("b.txt => ") + in + QStringLiteral("copy1.txt") }));
    EXPECT_EQ(used, previewed) << result.out.toStdString();
    EXPECT_EQ(result.out.count(QStringLiteral("Destination file already exists.")), 2);
    EXPECT_EQ(fetched(QStringLiteral("copy1.txt")), "kept");
    EXPECT_EQ(savedJob().sequenceStart, 1);
}

} // namespace
} // namespace taskhaul::test
