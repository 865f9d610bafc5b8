// What the window shows about scheduled runs: the status bar's next and last
// run, the icon's picture by state, and the notifications a run sends.
#include "app/program_icon.h"
#include "app/run_notice.h"
#include "app/schedule_status.h"
#include "app/status_line.h"
#include "app/transfer_wiring.h"
#include "ftp/pyftpd_server.h"
#include "scheduler/unattended_run.h"
#include "transfer/run_report.h"
#include "window_fixture.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

namespace taskhaul::test {
namespace {

const QDateTime kNow(QDate(2026, 3, 7), QTime(13, 30, 0));

TEST(ScheduleStatus, NextAndLastRun)
{
    const QDateTime next(QDate(2026, 3, 7), QTime(14, 0, 0));
    const QDateTime tomorrow(QDate(2026, 3, 8), QTime(9, 15, 0));
    const QDateTime last(QDate(2026, 3, 7), QTime(13, 0, 0));
    const QDateTime yesterday(QDate(2026, 3, 6), QTime(23, 59, 0));
    struct Case {
        std::optional<QDateTime> next;
        std::optional<LastRunSummary> last;
        const char* text;
    };
    const Case cases[] = {
        { next, std::nullopt, "Next run 14:00" },
        { next, LastRunSummary { last, true, 3 }, "Next run 14:00 \u00b7 last run 13:00: 3 files, OK" },
        { next, LastRunSummary { last, true, 1 }, "Next run 14:00 \u00b7 last run 13:00: 1 file, OK" },
        { next, LastRunSummary { last, true, 0 }, "Next run 14:00 \u00b7 last run 13:00: 0 files, OK" },
        { next, LastRunSummary { last, false, 2 },
            "Next run 14:00 \u00b7 last run 13:00: failed, see the log" },
        { tomorrow, LastRunSummary { yesterday, true, 2 },
            "Next run 2026-03-08 09:15 \u00b7 last run 2026-03-06 23:59: 2 files, OK" },
        { std::nullopt, LastRunSummary { last, false, 0 }, "Last run 13:00: failed, see the log" },
        { std::nullopt, std::nullopt, "" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(scheduleStatusText(kNow, c.next, c.last), QString::fromUtf8(c.text)) << c.text;
}

TEST(ScheduleStatus, NextDailyRunIsTodayOnlyWhileItsSecondIsAhead)
{
    EXPECT_EQ(nextDailyRun(kNow, QTime(14, 0, 0)), QDateTime(kNow.date(), QTime(14, 0, 0)));
    EXPECT_EQ(nextDailyRun(kNow, QTime(13, 30, 0)), QDateTime(kNow.date().addDays(1), QTime(13, 30, 0)));
    EXPECT_EQ(nextDailyRun(kNow, QTime(8, 0, 0, 500)), QDateTime(kNow.date().addDays(1), QTime(8, 0, 0)));
}

TEST(TrayIcon, FourPicturesAndTheStateThatPicksOne)
{
    const TrayState states[]
        = { TrayState::Idle, TrayState::SchedulerOn, TrayState::Running, TrayState::Failed };
    std::vector<QImage> images;
    for (TrayState state : states) {
        const QIcon icon = trayIcon(state);
        ASSERT_FALSE(icon.isNull());
        images.push_back(icon.pixmap(32, 32).toImage());
    }
    for (std::size_t a = 0; a < images.size(); ++a)
        for (std::size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a], images[b]) << a << " and " << b << " look the same";
    EXPECT_EQ(images[0], programIcon().pixmap(32, 32).toImage()); // idle: the program's picture

    EXPECT_EQ(trayStateFor(false, false, false), TrayState::Idle);
    EXPECT_EQ(trayStateFor(true, false, false), TrayState::SchedulerOn);
    EXPECT_EQ(trayStateFor(true, true, false), TrayState::Running);
    EXPECT_EQ(trayStateFor(false, true, false), TrayState::Running); // the user's own transfer
    EXPECT_EQ(trayStateFor(true, false, true), TrayState::Failed);
    EXPECT_EQ(trayStateFor(true, true, true), TrayState::Running);
}

TEST(RunNotice, WhichRunNotifiesWhat)
{
    const QString failedTitle = QStringLiteral("Taskhaul: scheduled transfer from ftp.example.org failed");
    RunReport ok;
    ok.connected = ok.folderEntered = ok.listed = true;
    ok.fetched = 3;
    RunReport none = ok;
    none.fetched = 0;
    RunReport noConnection;
    noConnection.failure = QStringLiteral("Connection refused");
    RunReport noFolder;
    noFolder.connected = true;
    noFolder.failure = QStringLiteral("550 /in: No such file or directory.");
    RunReport oneSkipped = ok;
    oneSkipped.skipped = { { "a.txt", QStringLiteral("Permission denied") } };
    RunReport twoSkipped = oneSkipped;
    twoSkipped.skipped.push_back({ "b.txt", QStringLiteral("Disk full") });
    RunReport stopped = ok;
    stopped.aborted = true;
    RunReport partialListing = ok;
    partialListing.listingIncomplete = true;

    const QString againTitle
        = QStringLiteral("Taskhaul: scheduled transfer from ftp.example.org works again");
    struct Case {
        const char* name;
        RunOutcome outcome;
        const RunReport& report;
        bool notifySuccess;
        bool afterFailure;
        std::optional<RunNotice> notice;
    };
    const Case cases[] = {
        { "success, not asked for", RunOutcome::Completed, ok, false, false, std::nullopt },
        { "success, asked for", RunOutcome::Completed, ok, true, false,
            RunNotice { QStringLiteral("Taskhaul: scheduled transfer done"),
                QStringLiteral("3 files fetched into /srv/in."), false, true } },
        { "nothing fetched, asked for", RunOutcome::Completed, none, true, false, std::nullopt },
        // After a failure a success is always told, whatever was fetched.
        { "success after a failure", RunOutcome::Completed, ok, false, true,
            RunNotice { againTitle,
                QStringLiteral("The run succeeded after failing before. 3 files fetched into /srv/in."),
                false, true } },
        { "nothing fetched after a failure", RunOutcome::Completed, none, true, true,
            RunNotice { againTitle,
                QStringLiteral("The run succeeded after failing before. Nothing new to fetch."), false,
                true } },
        { "cannot connect", RunOutcome::Failed, noConnection, false, false,
            RunNotice { failedTitle, QStringLiteral("Connection refused"), true, true } },
        { "cannot connect again", RunOutcome::Failed, noConnection, false, true,
            RunNotice { failedTitle, QStringLiteral("Connection refused"), true, true } },
        { "folder missing", RunOutcome::Failed, noFolder, true, false,
            RunNotice { failedTitle, QStringLiteral("550 /in: No such file or directory."), true, true } },
        { "one file skipped", RunOutcome::Completed, oneSkipped, false, false,
            RunNotice {
                failedTitle, QStringLiteral("\"a.txt\" was not fetched: Permission denied"), true, true } },
        { "two files skipped", RunOutcome::Completed, twoSkipped, true, false,
            RunNotice { failedTitle, QStringLiteral("2 files were not fetched; \"a.txt\": Permission denied"),
                true, true } },
        { "job incomplete", RunOutcome::Incomplete, ok, true, false,
            RunNotice { failedTitle, QStringLiteral("FTP Site and Local Folder information required."), true,
                true } },
        { "failed without a reason", RunOutcome::Failed, none, false, false,
            RunNotice { failedTitle, QStringLiteral("The run did not complete. See the activity log."), true,
                true } },
        { "stopped by the user", RunOutcome::Completed, stopped, true, true, std::nullopt },
        { "listing cut short", RunOutcome::Completed, partialListing, false, false,
            RunNotice { failedTitle,
                QStringLiteral("The server's listing was incomplete: some files may not have been fetched."),
                true, true } },
    };
    JobSettings job;
    job.host = QStringLiteral("ftp.example.org");
    job.localFolder = QStringLiteral("/srv/in");
    for (const Case& c : cases) {
        job.notifySuccess = c.notifySuccess;
        EXPECT_EQ(noticeForRun(c.outcome, c.report, job, c.afterFailure), c.notice) << c.name;
        // A failure notice exactly when the run failed by the report's own answer
        // (the exit status of --run-once asks the same); a stop is not notified.
        if (c.outcome != RunOutcome::Incomplete && !c.report.aborted) {
            EXPECT_EQ(c.notice && c.notice->failure, c.outcome == RunOutcome::Failed || c.report.failed())
                << c.name;
        }
    }
    // A job without a host names none.
    job.host.clear();
    EXPECT_EQ(noticeForRun(RunOutcome::Incomplete, ok, job, false)->title,
        QStringLiteral("Taskhaul: scheduled transfer failed"));
}

// The site a notification or a question names: the port only when it is not
// the one the protocol uses anyway.
TEST(RunNotice, TheSiteNamesItsPortOnlyWhenItIsNotTheUsualOne)
{
    using P = JobSettings::Protocol;
    using S = JobSettings::Security;
    struct Case {
        const char* host;
        const char* port;
        P protocol;
        S security;
        const char* site;
    };
    const Case cases[] = {
        { "ftp.example.org", "21", P::Ftp, S::Plain, "ftp.example.org" },
        { "ftp.example.org", "2121", P::Ftp, S::Explicit, "ftp.example.org:2121" },
        { "ftp.example.org", "21", P::Ftp, S::Implicit, "ftp.example.org" }, // 21 means 990
        { "ftp.example.org", "990", P::Ftp, S::Implicit, "ftp.example.org" },
        { "ftp.example.org", "990", P::Ftp, S::Plain, "ftp.example.org:990" },
        { "sftp.example.org", "21", P::Sftp, S::Plain, "sftp.example.org" }, // 21 means 22
        { "sftp.example.org", "22", P::Sftp, S::Plain, "sftp.example.org" },
        { "sftp.example.org", "2222", P::Sftp, S::Plain, "sftp.example.org:2222" },
        { "::1", "2222", P::Sftp, S::Plain, "[::1]:2222" },
        { "::1", "22", P::Sftp, S::Plain, "::1" },
    };
    for (const Case& c : cases) {
        JobSettings job;
        job.host = QString::fromLatin1(c.host);
        job.port = QString::fromLatin1(c.port);
        job.protocol = c.protocol;
        job.security = c.security;
        EXPECT_EQ(job.siteAddress(), QString::fromLatin1(c.site)) << c.host << " " << c.port;
    }
}

class RunIndicatorsWindow : public WindowTest {
protected:
    void startScheduler()
    {
        child<QLineEdit>("Edit1")->setText(QStringLiteral("ftp.example.org"));
        child<QLineEdit>("Edit3")->setText(QStringLiteral("alice"));
        child<QLineEdit>("Edit4")->setText(QStringLiteral("pw"));
        child<QRadioButton>("RadioButton1")->setChecked(true);
        trigger(Command::StartScheduler);
    }
    QString scheduleText() { return hooks().statusLineWidgets().schedule(); }
};

TEST_F(RunIndicatorsWindow, TheSchedulerShowsItsNextAndLastRunAndTheIconFollows)
{
    createWindow();
    EXPECT_EQ(tray.state, TrayState::Idle);
    EXPECT_EQ(scheduleText(), QString());
    startScheduler();
    ASSERT_EQ(hooks().trayHint(), QStringLiteral("Taskhaul - Scheduler is ON"));
    EXPECT_EQ(tray.state, TrayState::SchedulerOn);
    // The daily time 00:00:00 has passed at 14:05:09.
    EXPECT_EQ(scheduleText(), QStringLiteral("Next run 2026-03-08 00:00"));

    // A due run with the local folder empty: nothing tried, and that is a failure.
    hooks().scheduledRunFinished(RunOutcome::Incomplete);
    EXPECT_EQ(scheduleText(),
        QStringLiteral("Next run 2026-03-08 00:00 \u00b7 last run 14:05: failed, see the log"));
    EXPECT_EQ(tray.state, TrayState::Failed);
    ASSERT_EQ(notices.sent.size(), 1u);
    EXPECT_TRUE(notices.sent[0].failure);
    EXPECT_EQ(notices.sent[0].body, QStringLiteral("FTP Site and Local Folder information required."));

    // A click on the notice opens the activity log.
    ASSERT_TRUE(notices.clicked);
    notices.clicked();
    ASSERT_EQ(shell.opened.size(), 1u);
    EXPECT_EQ(shell.opened[0], QUrl::fromLocalFile(log().path()));

    trigger(Command::StopScheduler);
    EXPECT_EQ(tray.state, TrayState::Idle);
    EXPECT_EQ(scheduleText(), QString());
    EXPECT_TRUE(child<ElidedLabel>("ScheduleText")->isHidden());
}

// Each run's notice replaces the one before, and the first success after
// failures says that the job works again. Runs against a real server: twice
// refused, then fetching, then nothing new.
TEST_F(RunIndicatorsWindow, RunsNotifyInOnePlaceAndASuccessAfterFailuresSaysSo)
{
    PyFtpdServer server;
    server.writeFile("report.csv", "a,b\n");
    QTemporaryDir local;
    createWindow();
    child<QLineEdit>("Edit1")->setText(QString::fromStdString(server.host()));
    child<QLineEdit>("Edit10")->setText(QString::number(server.port()));
    child<QLineEdit>("Edit3")->setText(QString::fromStdString(server.user()));
    child<QLineEdit>("Edit5")->setText(local.path());
    child<QRadioButton>("RadioButton1")->setChecked(true);
    child<QCheckBox>("chkOnlyNewer")->setChecked(true); // a fetched file is not fetched again
    trigger(Command::StartScheduler);
    TransferEngine& engine = hooks().transferWiring().engine();
    const auto scheduledRun = [&](const QString& password) {
        child<QLineEdit>("Edit4")->setText(password);
        hooks().runGuarded([&] {
            engine.setUnattended(true);
            engine.siteConnect();
            engine.changeFolder();
            engine.transferAllFiles();
        });
        engine.disconnectSite();
        hooks().scheduledRunFinished(engine.lastRun().connected ? RunOutcome::Completed : RunOutcome::Failed);
    };
    for (const QString& password : { QStringLiteral("wrong"), QStringLiteral("wrong"),
             QString::fromStdString(server.password()), QString::fromStdString(server.password()) })
        scheduledRun(password);

    ASSERT_EQ(notices.sent.size(), 3u); // the last run, nothing new, is not told
    for (const RunNotice& notice : notices.sent)
        EXPECT_TRUE(notice.ofRun) << notice.title.toStdString();
    const QString site = QStringLiteral("127.0.0.1:%1").arg(server.port());
    EXPECT_EQ(notices.sent[0].title, QStringLiteral("Taskhaul: scheduled transfer from %1 failed").arg(site));
    EXPECT_TRUE(notices.sent[0].failure);
    EXPECT_EQ(notices.sent[1], notices.sent[0]);
    EXPECT_EQ(
        notices.sent[2].title, QStringLiteral("Taskhaul: scheduled transfer from %1 works again").arg(site));
    EXPECT_EQ(notices.sent[2].body,
        QStringLiteral("The run succeeded after failing before. 1 file fetched into %1.").arg(local.path()));
    EXPECT_FALSE(notices.sent[2].failure);
}

TEST_F(RunIndicatorsWindow, AScheduledRunDownloadsWhileTheLogCannotBeWritten)
{
    PyFtpdServer server;
    server.writeFile("report.csv", "a,b\n");
    QTemporaryDir local;
    createWindow();
    child<QLineEdit>("Edit1")->setText(QString::fromStdString(server.host()));
    child<QLineEdit>("Edit10")->setText(QString::number(server.port()));
    child<QLineEdit>("Edit3")->setText(QString::fromStdString(server.user()));
    child<QLineEdit>("Edit4")->setText(QString::fromStdString(server.password()));
    child<QLineEdit>("Edit5")->setText(local.path());
    child<QRadioButton>("RadioButton1")->setChecked(true);
    child<QRadioButton>("RadioButton3")->setChecked(true);
    child<QTimeEdit>("DateTimePicker2")->setTime(now.time().addSecs(1));
    // A folder takes the log file's place.
    ASSERT_TRUE(QFile::remove(log().path()));
    ASSERT_TRUE(QDir().mkdir(log().path()));

    trigger(Command::StartScheduler);
    now = now.addSecs(1); // the daily time comes
    QTRY_VERIFY_WITH_TIMEOUT(hooks().statusLine() == QStringLiteral("Disconnected"), 20000);
    EXPECT_EQ(QFile(local.filePath(QStringLiteral("report.csv"))).size(), 4);
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join('|').toStdString();
    EXPECT_TRUE(hooks().statusLineWidgets().logProblem().contains(log().path()));
    ASSERT_EQ(notices.sent.size(), 1u);
    EXPECT_EQ(notices.sent[0].title, QStringLiteral("Taskhaul: the activity log cannot be written"));

    // Once a line can be written again, the status bar no longer speaks of it.
    ASSERT_TRUE(QDir(log().path()).removeRecursively());
    trigger(Command::StopScheduler);
    EXPECT_TRUE(hooks().statusLineWidgets().logProblem().isEmpty());
    EXPECT_TRUE(child<ElidedLabel>("LogProblemText")->isHidden());
    EXPECT_FALSE(logMessages().isEmpty());
}

TEST_F(RunIndicatorsWindow, TheSuccessOptionIsABoxOfTheJob)
{
    createWindow();
    auto* box = child<QCheckBox>("chkNotifySuccess");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("Notify me when a scheduled transfer fetches files"));
    EXPECT_FALSE(box->isChecked());
    box->setChecked(true);
    EXPECT_TRUE(hooks().jobSettings().notifySuccess);
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
}

} // namespace
} // namespace taskhaul::test
