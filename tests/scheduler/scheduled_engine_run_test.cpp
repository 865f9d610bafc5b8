// Scheduled runs through the real transfer engine and FTP client, against the
// scripted server, with the timers on a simulated clock.
#include "fake_scheduler_host.h"
#include "ftp/ftp_client.h"
#include "ftp/loopback.h"
#include "ftp/scripted_ftp_server.h"
#include "log/silent_stop.h"
#include "scheduler/engine_run_steps.h"
#include "scheduler/scheduler.h"
#include "simulated_time.h"
#include "site/ftp_site.h"
#include "transfer/transfer_engine.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>

namespace taskhaul::test {
namespace {

class ScheduledEngineRun : public ::testing::Test {
protected:
    ScheduledEngineRun()
    {
        host.settings = completeJob();
        host.settings.host = QString::fromStdString(server.host());
        host.settings.port = QString::number(server.port());
        host.settings.remoteFolder = QStringLiteral("pub");
        host.settings.localFolder = local.path();
        host.settings.passive = true;
        host.settings.scheduleKind = JobSettings::ScheduleKind::Interval;
        host.settings.intervalMinutes = 1;
        server.addFile("a.txt", "alpha");
    }

    void startAndRunOnce()
    {
        scheduler.start();
        host.events.clear();
        time.advance(kMinute);
    }

    ScriptedFtpServer server;
    QTemporaryDir local;
    SimulatedTime time { wall(2024, 3, 15, 9, 0, 0) };
    SimulatedTimer timer1 { time };
    SimulatedTimer timer2 { time };
    FakeSchedulerHost host;
    // What the client does while it waits (nothing unless a test says so).
    std::function<void()> pump;
    ftp::TFtpClient client { [this] {
        if (pump)
            pump();
    } };
    FtpSite site { client };
    TransferEngine engine { host, site, QStringLiteral(",") };
    EngineRunSteps steps { engine };
    Scheduler scheduler { host, steps, time, timer1, timer2, LongTimeFormat {} };
};

TEST_F(ScheduledEngineRun, FailedConnectIsLoggedOnlyAndTheNextTickTriesAgain)
{
    server.reply("PASS", "530 Login incorrect.\r\n");
    // Even before the window was ever activated, a run shows nothing.
    engine.setUnattended(false);
    startAndRunOnce();

    const QStringList lines = host.logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.at(lines.size() - 2),
        QStringLiteral("ERROR: The FTP site information specified is not valid "
                       "or the site cannot be accessed at this time."));
    EXPECT_EQ(lines.last(), QStringLiteral("Reason: Login incorrect."));
    EXPECT_TRUE(host.boxes.texts().isEmpty());
    EXPECT_EQ(host.events.last(), QStringLiteral("schedon"));
    EXPECT_TRUE(scheduler.isOn());

    time.advance(kMinute);
    EXPECT_EQ(server.sessionCount(), 2);
}

TEST_F(ScheduledEngineRun, FailedListingEndsTheRunCleanly)
{
    server.reply("LIST", "550 Permission denied.\r\n");
    startAndRunOnce();

    const QStringList lines = host.logLines();
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines.at(0), QStringLiteral("alice connected to 127.0.0.1"));
    EXPECT_EQ(lines.at(1), QStringLiteral("Current folder is pub"));
    EXPECT_TRUE(lines.at(2).startsWith(QLatin1String("ERROR: "))) << lines.at(2).toStdString();
    EXPECT_TRUE(lines.at(2).contains(QLatin1String("Permission denied"))) << lines.at(2).toStdString();
    EXPECT_EQ(lines.at(3), QStringLiteral("alice disconnected from 127.0.0.1"));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_TRUE(host.boxes.texts().isEmpty());
    EXPECT_EQ(host.events.last(), QStringLiteral("schedon"));
    EXPECT_TRUE(scheduler.isOn());
}

// A tick that falls due while a user's Connect waits for a server that never
// answers, or while the user is being asked about that connect, is skipped: a
// run then would pull the connection from under the user's.
TEST_F(ScheduledEngineRun, ATickDueDuringAUserConnectIsSkipped)
{
    SilentListener silent;
    scheduler.start();
    host.settings.port = QString::number(silent.port());
    int waits = 0;
    pump = [&] {
        if (++waits == 1)
            time.advance(kMinute);
        else if (waits == 3)
            engine.stopTransferCommand();
    };
    EXPECT_THROW(engine.connectCommand(), SilentStop);
    EXPECT_GE(waits, 3);
    EXPECT_TRUE(host.logLines().contains(Scheduler::skippedLine()))
        << host.logLines().join('\n').toStdString();
    EXPECT_EQ(server.sessionCount(), 0);

    pump = nullptr;
    host.settings.port = QString::number(server.port());
    engine.setAnswerAwaited(true);
    time.advance(kMinute);
    engine.setAnswerAwaited(false);
    EXPECT_EQ(host.logLines().last(), Scheduler::skippedLine());
    EXPECT_EQ(server.sessionCount(), 0);
}

} // namespace
} // namespace taskhaul::test

namespace taskhaul::test {
namespace {

// Retries of a scheduled run that could not connect or lost its connection.
class ScheduledRetries : public ScheduledEngineRun {
protected:
    ScheduledRetries()
    {
        scheduler.setRetryTimer(&retryTimer);
        host.settings.intervalMinutes = 60;
        host.settings.retries = 2;
        host.settings.retryDelayMinutes = 5;
    }

    QStringList linesWith(const QString& text) const { return host.logLines().filter(text); }

    // Two files, and the first session breaks down at the second (its SIZE).
    void breakDownAtTheSecondFile()
    {
        server.setListing("-rw-r--r--    1 ftp      ftp      5 Mar 01  2024 a.txt\r\n"
                          "-rw-r--r--    1 ftp      ftp      5 Mar 01  2024 b.txt\r\n");
        server.addFile("b.txt", "bravo");
        server.on("SIZE", [this](FtpSession& s, const std::string&) {
            if (++sizeQueries_ == 2)
                s.close();
            else
                s.send("213 5\r\n");
        });
    }

    SimulatedTimer retryTimer { time };

private:
    int sizeQueries_ = 0;
};

TEST_F(ScheduledRetries, AServerThatRefusesTwiceIsReachedOnTheThirdAttempt)
{
    server.replySequence("PASS", { "530 Not now.\r\n", "530 Not now.\r\n", "230 Welcome.\r\n" });
    scheduler.start();
    time.advance(60 * kMinute);
    EXPECT_EQ(linesWith(QStringLiteral("Retrying")),
        QStringList({ QStringLiteral("Retrying in 5 minute(s) (attempt 1 of 2).") }));

    time.advance(5 * kMinute);
    EXPECT_EQ(linesWith(QStringLiteral("Retrying")).size(), 2);
    time.advance(5 * kMinute);
    EXPECT_EQ(server.sessionCount(), 3);
    EXPECT_EQ(linesWith(QStringLiteral("Data transfer complete")).size(), 1);
    EXPECT_FALSE(scheduler.retryPending());
}

TEST_F(ScheduledRetries, ARetryResumesAfterTheFilesAlreadyFetched)
{
    breakDownAtTheSecondFile();
    scheduler.start();
    time.advance(60 * kMinute);
    EXPECT_EQ(linesWith(QStringLiteral("Retrying")).size(), 1);
    time.advance(5 * kMinute);

    EXPECT_EQ(server.argumentsOf("RETR"), (std::vector<std::string> { "a.txt", "b.txt" }));
    EXPECT_FALSE(scheduler.retryPending());
}

TEST_F(ScheduledRetries, StopCancelsAWaitingRetryAndOtherFailuresAreNotRetried)
{
    server.reply("PASS", "530 Not now.\r\n");
    scheduler.start();
    time.advance(60 * kMinute);
    ASSERT_TRUE(scheduler.retryPending());
    scheduler.stop();
    EXPECT_FALSE(scheduler.retryPending());
    time.advance(10 * kMinute);
    EXPECT_EQ(server.sessionCount(), 1);

    // A folder that is missing is no connection problem: no retry.
    server.reply("PASS", "230 Welcome.\r\n");
    server.reply("CWD", "550 No such folder.\r\n");
    scheduler.start();
    time.advance(60 * kMinute);
    EXPECT_FALSE(scheduler.retryPending());

    // A due tick while a retry waits would overlap it: it is skipped.
    scheduler.stop();
    server.reply("PASS", "530 Not now.\r\n");
    host.settings.intervalMinutes = 1;
    scheduler.start();
    time.advance(kMinute);
    ASSERT_TRUE(scheduler.retryPending());
    time.advance(kMinute);
    EXPECT_EQ(host.logLines().last(), Scheduler::skippedLine());
    scheduler.stop();

    // Off by default.
    host.settings.retries = 0;
    host.settings.intervalMinutes = 60;
    scheduler.start();
    time.advance(60 * kMinute);
    EXPECT_FALSE(scheduler.retryPending());
}

// The same retries for a caller that blocks between attempts (--run-once).
TEST_F(ScheduledRetries, ABlockingRunWaitsBetweenAttemptsAndFetchesOnlyWhatIsLeft)
{
    // The first session breaks down at b.txt, the second is refused, the third works.
    breakDownAtTheSecondFile();
    server.replySequence("PASS", { "230 Welcome.\r\n", "530 Not now.\r\n", "230 Welcome.\r\n" });
    std::vector<int> waits;

    const RunOutcome outcome = performRunWithRetries(RunKind::Interval, host, steps, [&waits](int minutes) {
        waits.push_back(minutes);
        return true;
    });

    EXPECT_EQ(outcome, RunOutcome::Completed);
    EXPECT_EQ(waits, (std::vector<int> { 5, 5 }));
    EXPECT_EQ(linesWith(QStringLiteral("Retrying")),
        QStringList({ QStringLiteral("Retrying in 5 minute(s) (attempt 1 of 2)."),
            QStringLiteral("Retrying in 5 minute(s) (attempt 2 of 2).") }));
    EXPECT_EQ(server.argumentsOf("RETR"), (std::vector<std::string> { "a.txt", "b.txt" }));
}

TEST_F(ScheduledRetries, ABlockingRunEndsWhenItsWaitIsCutShortOrItsRetriesAreUsedUp)
{
    server.reply("PASS", "530 Not now.\r\n");
    int waits = 0;
    auto run = [&](bool waitEnds) {
        return performRunWithRetries(RunKind::Interval, host, steps, [&waits, waitEnds](int) {
            ++waits;
            return waitEnds;
        });
    };
    EXPECT_EQ(run(false), RunOutcome::Failed); // a termination signal during the wait
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(server.sessionCount(), 1);

    EXPECT_EQ(run(true), RunOutcome::Failed);
    EXPECT_EQ(waits, 1 + 2);
    EXPECT_EQ(server.sessionCount(), 1 + 3);

    host.settings.retries = 0;
    EXPECT_EQ(run(true), RunOutcome::Failed);
    EXPECT_EQ(waits, 3);
}

} // namespace
} // namespace taskhaul::test
