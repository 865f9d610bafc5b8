// The headless runner end to end: the built program, a saved job in a private
// settings folder, and a real FTP server (pyftpdlib).
#include "ftp/pyftpd_server.h"
#include "ftp/scripted_ftp_server.h"
#include "ftp/tls_servers.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <fstream>

namespace taskhaul::test {
namespace {

struct Finished {
    int exitCode = -1;
    QString out;
    QString err;
};

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
    void start(QProcess& process, const QString& option) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("state")));
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        // No display of any kind.
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QLatin1String(name));
        process.setProcessEnvironment(environment);
        process.start(program(), { option });
    }

    static Finished finish(QProcess& process)
    {
        Finished finished;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
            process.kill();
            process.waitForFinished();
            ADD_FAILURE() << "the program did not end normally";
            return finished;
        }
        finished.exitCode = process.exitCode();
        finished.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        finished.err = QString::fromLocal8Bit(process.readAllStandardError());
        return finished;
    }

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
        log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts));
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
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
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
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
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
    const QString fingerprint
        = QString::fromStdString(TestCertificates::Fingerprint(certificates.SelfSigned().certificate));
    job.port = QString::number(tls.port());
    job.userName = QString::fromStdString(tls.user());
    job.password = QString::fromStdString(tls.password());
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate = fingerprint;
    saveJob();

    const Finished result = run(QStringLiteral("--preview"));

    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("Certificate SHA-256 fingerprint: ") + fingerprint))
        << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QStringLiteral("file\tfetch\ta.txt"))) << result.out.toStdString();
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

} // namespace
} // namespace taskhaul::test
