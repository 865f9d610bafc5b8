#include "fake_scheduler_host.h"
#include "scheduler/scheduler.h"
#include "scheduler/unattended_run.h"
#include "simulated_time.h"
#include "transfer/leftovers.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <optional>
#include <random>

namespace taskhaul::test {
namespace {

class SchedulerTest : public ::testing::Test {
protected:
    SchedulerTest()
    {
        host.settings = completeJob();
        steps.onConnect = [this] { runStarts.push_back(time.localNow()); };
    }

    void startEvery(int minutes)
    {
        host.settings.scheduleKind = JobSettings::ScheduleKind::Interval;
        host.settings.intervalMinutes = minutes;
        scheduler.start();
        host.events.clear();
    }

    void startDailyAt(const QTime& dailyTime)
    {
        host.settings.scheduleKind = JobSettings::ScheduleKind::DailyTime;
        host.settings.dailyTime = dailyTime;
        scheduler.start();
        host.events.clear();
    }

    // Lets the time pass asleep (no make-up), then wakes a few ticks before `moment`.
    void skipTo(const QDateTime& moment)
    {
        time.block(time.localNow().msecsTo(moment) - 3 * kSecond);
        time.advance(3 * kSecond);
    }

    QStringList runStartTexts() const
    {
        QStringList texts;
        for (const QDateTime& start : runStarts)
            texts << start.toString(QStringLiteral("MM-dd HH:mm:ss"));
        return texts;
    }

    SimulatedTime time { wall(2024, 3, 15, 9, 0, 0) };
    SimulatedTimer timer1 { time };
    SimulatedTimer timer2 { time };
    FakeSchedulerHost host;
    FakeRunSteps steps { host };
    Scheduler scheduler { host, steps, time, timer1, timer2, LongTimeFormat {} };
    std::vector<QDateTime> runStarts;
};

// ---- Start, Stop, Start/Stop, Reset timers ----

TEST_F(SchedulerTest, StartRefusesAnIncompleteJobWithItsMessageAndStaysOff)
{
    struct Case {
        const char* what;
        std::function<void(JobSettings&)> change;
        QString message;
    };
    const QString site = QStringLiteral("FTP site information required.");
    const QString wildcards = QStringLiteral("The * and ? wildcards are not allowed in the renamed file.");
    const std::vector<Case> cases {
        { "host empty", [](JobSettings& j) { j.host.clear(); }, site },
        { "port empty", [](JobSettings& j) { j.port.clear(); }, site },
        { "user empty", [](JobSettings& j) { j.userName.clear(); }, site },
        { "password empty (anonymous too)", [](JobSettings& j) { j.password.clear(); }, site },
        { "site before file name",
            [](JobSettings& j) {
                j.host.clear();
                j.fileKind = JobSettings::FileKind::OneFile;
            },
            site },
        { "one file without a name", [](JobSettings& j) { j.fileKind = JobSettings::FileKind::OneFile; },
            QStringLiteral("A file to download must be specified.") },
        { "rename without a new name",
            [](JobSettings& j) {
                j.fileKind = JobSettings::FileKind::OneFile;
                j.fileName = QStringLiteral("a.txt");
                j.rename = true;
            },
            QStringLiteral("The new name of the file donwloaded must be specified.") },
        { "new name with a star",
            [](JobSettings& j) {
                j.fileKind = JobSettings::FileKind::OneFile;
                j.fileName = QStringLiteral("a.txt");
                j.rename = true;
                j.renameTo = QStringLiteral("b*.txt");
            },
            wildcards },
        { "new name with a question mark",
            [](JobSettings& j) {
                j.fileKind = JobSettings::FileKind::OneFile;
                j.fileName = QStringLiteral("a.txt");
                j.rename = true;
                j.renameTo = QStringLiteral("b?.txt");
            },
            wildcards },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A refusal also turns off a schedule that was running.
        host.settings = completeJob();
        startEvery(5);
        ASSERT_TRUE(scheduler.isOn());
        host.boxes.clear();
        c.change(host.settings);

        scheduler.start();

        EXPECT_EQ(host.boxes.texts(), QStringList { c.message });
        EXPECT_EQ(host.boxes.shown().at(0).kind, RecordingMessageBoxes::Kind::Information);
        EXPECT_TRUE(host.events.isEmpty()) << host.events.join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(scheduler.isOn());
        EXPECT_FALSE(timer1.isActive());
        EXPECT_FALSE(timer2.isActive());
    }
}

TEST_F(SchedulerTest, StartAcceptsWhatOnlyTheRunsCheck)
{
    // The local folder is checked at each due tick, and all-files mode ignores
    // the name fields.
    host.settings.localFolder.clear();
    host.settings.rename = true;
    host.settings.renameTo = QStringLiteral("*");
    scheduler.start();
    EXPECT_TRUE(host.boxes.texts().isEmpty());
    EXPECT_TRUE(scheduler.isOn());
}

TEST_F(SchedulerTest, StartAndStopSetTheHintLogAndControls)
{
    host.settings.dailyTime = QTime(14, 30, 0);
    scheduler.start();
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("hint: Taskhaul - Scheduler is ON"),
            QStringLiteral("log: Scheduled transfer started for 14:30:00 --------+"),
            QStringLiteral("schedon") }));
    EXPECT_TRUE(scheduler.dailyOn());
    EXPECT_FALSE(scheduler.intervalOn());

    host.events.clear();
    time.advance(12 * kMinute + 34 * kSecond);
    scheduler.stop();
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("hint: Taskhaul - Scheduler is OFF"),
            QStringLiteral("log: Scheduled transfer stopped at 09:12:34 --------+"),
            QStringLiteral("standby") }));
    EXPECT_FALSE(scheduler.isOn());

    host.events.clear();
    host.settings.scheduleKind = JobSettings::ScheduleKind::Interval;
    host.settings.intervalMinutes = 90;
    scheduler.start();
    EXPECT_EQ(
        host.events.at(1), QStringLiteral("log: Scheduled transfer started, 90 minutes intervals --------+"));
    EXPECT_TRUE(scheduler.intervalOn());
    EXPECT_FALSE(scheduler.dailyOn());
    EXPECT_EQ(scheduler.intervalTimer().periodMs(), 90 * kMinute);
}

TEST_F(SchedulerTest, IntervalIsClampedIntoItsRange)
{
    for (const auto& [typed, used] :
        { std::pair { 0, 1 }, { -5, 1 }, { 527040, 527040 }, { 600000, 527040 } }) {
        host.events.clear();
        startEvery(typed);
        EXPECT_EQ(scheduler.intervalTimer().periodMs(), used * kMinute) << typed;
    }
}

TEST_F(SchedulerTest, StartStopFollowsTheEnabledCommand)
{
    scheduler.startStop(); // standby: Start
    EXPECT_TRUE(scheduler.isOn());
    scheduler.startStop(); // scheduler on: Stop
    EXPECT_FALSE(scheduler.isOn());

    scheduler.start();
    host.controlsConnected(); // during a run neither command is enabled
    host.events.clear();
    scheduler.startStop();
    EXPECT_TRUE(scheduler.isOn());
    EXPECT_TRUE(host.events.isEmpty());
}

TEST_F(SchedulerTest, ResetTimersTakesTheCurrentTimeToTheSecond)
{
    time.advance(5 * kMinute + 7 * kSecond + 800);
    scheduler.resetTimers();
    EXPECT_EQ(host.settings.dailyTime, QTime(9, 5, 7));
    EXPECT_EQ(host.logLines(), QStringList { QStringLiteral("Timers reset") });
}

// ---- Interval runs ----

TEST_F(SchedulerTest, FirstIntervalRunComesNMinutesAfterStart)
{
    startEvery(60);
    time.advance(60 * kMinute - 1);
    EXPECT_TRUE(runStarts.empty());
    time.advance(1);
    EXPECT_EQ(runStartTexts(), QStringList { QStringLiteral("03-15 10:00:00") });
}

TEST_F(SchedulerTest, IntervalRunsStayAnchoredToStartWhateverTheirLength)
{
    for (const qint64 runLength : { 1 * kMinute, 40 * kMinute }) {
        SCOPED_TRACE(runLength);
        runStarts.clear();
        steps.onTransfer = [&] { time.advance(runLength); };
        startEvery(60);
        time.advance(4 * kHour);
        QStringList times;
        for (const QDateTime& start : runStarts)
            times << start.time().toString(QStringLiteral("HH:mm:ss"));
        EXPECT_EQ(times,
            (QStringList { QStringLiteral("10:00:00"), QStringLiteral("11:00:00"), QStringLiteral("12:00:00"),
                QStringLiteral("13:00:00") }));
        scheduler.stop();
        time.advanceTo(QDateTime(time.localNow().date().addDays(1), QTime(9, 0), Qt::UTC));
    }
}

TEST_F(SchedulerTest, LongestIntervalRunsAfter366Days)
{
    startEvery(527040);
    time.advance(366 * kDay - 1);
    EXPECT_TRUE(runStarts.empty());
    EXPECT_TRUE(scheduler.isOn());
    time.advance(1);
    EXPECT_EQ(runStartTexts(), QStringList { QStringLiteral("03-16 09:00:00") }); // 2024 is a leap year
    time.advance(366 * kDay);
    EXPECT_EQ(runStarts.size(), 2U);
    // No single wait of the event loop's timer is longer than it can hold.
    EXPECT_LE(timer2.deadline() - time.elapsedMs(), SchedulerTimer::kLongestWaitMs);
}

TEST_F(SchedulerTest, LateTickComesOnceAndTheScheduleKeepsItsAnchor)
{
    startEvery(10);
    // The computer sleeps through three due times (10, 20 and 30 minutes).
    time.block(35 * kMinute);
    time.advance(0);
    EXPECT_EQ(runStartTexts(), QStringList { QStringLiteral("03-15 09:35:00") });
    time.advance(5 * kMinute);
    EXPECT_EQ(runStartTexts(),
        (QStringList { QStringLiteral("03-15 09:35:00"), QStringLiteral("03-15 09:40:00") }));
}

TEST_F(SchedulerTest, TickDuringARunIsSkippedAndLeavesTheRunAlone)
{
    steps.onTransfer = [&] { time.advance(25 * kMinute); };
    startEvery(10);
    time.advance(10 * kMinute);

    const QString skipped
        = QStringLiteral("log: Scheduled transfer skipped: the previous transfer is still running.");
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("connect"), QStringLiteral("folder"), QStringLiteral("connected"),
            QStringLiteral("transfer"), skipped, skipped, QStringLiteral("disconnect"),
            QStringLiteral("schedon") }));
    // The next run comes at its own time, 40 minutes after Start.
    time.advance(5 * kMinute);
    EXPECT_EQ(runStarts.size(), 2U);
    EXPECT_EQ(runStartTexts().last(), QStringLiteral("03-15 09:40:00"));
}

TEST_F(SchedulerTest, TickDuringAUserCommandIsSkipped)
{
    startEvery(10);
    steps.userCommandRunning = true;
    time.advance(10 * kMinute);
    EXPECT_EQ(host.logLines(),
        QStringList {
            QStringLiteral("Scheduled transfer skipped: the previous transfer is still running.") });
    EXPECT_TRUE(runStarts.empty());
}

TEST_F(SchedulerTest, ARunOfAnotherProgramIntoTheSameFolderMakesTheTickSkipAndTheRunHoldsTheFolder)
{
    QTemporaryDir folder;
    host.settings.localFolder = folder.path();
    std::optional<LocalFolderRun> other;
    other.emplace(folder.path());
    ASSERT_TRUE(other->alone());
    startEvery(10);
    time.advance(10 * kMinute);
    EXPECT_EQ(host.logLines(),
        QStringList { QStringLiteral("Scheduled transfer skipped: another Taskhaul run is using %1.")
                          .arg(folder.path()) });
    EXPECT_TRUE(runStarts.empty());

    // Once the other run has ended, the next due run goes ahead and holds the
    // folder while it lasts.
    other.reset();
    host.events.clear();
    bool heldDuringTheRun = false;
    steps.onTransfer = [&] { heldDuringTheRun = !LocalFolderRun(folder.path()).alone(); };
    time.advance(10 * kMinute);
    EXPECT_EQ(runStarts.size(), 1U);
    EXPECT_TRUE(heldDuringTheRun);
    EXPECT_TRUE(LocalFolderRun(folder.path()).alone());
}

// ---- The steps of a run ----

TEST_F(SchedulerTest, DailyAndIntervalRunsTakeTheirStepsInOrder)
{
    startDailyAt(QTime(9, 0, 30));
    time.advance(31 * kSecond);
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("connected"), QStringLiteral("connect"), QStringLiteral("folder"),
            QStringLiteral("transfer"), QStringLiteral("disconnect"), QStringLiteral("schedon") }));
    scheduler.stop();

    startEvery(1);
    time.advance(kMinute);
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("connect"), QStringLiteral("folder"), QStringLiteral("connected"),
            QStringLiteral("transfer"), QStringLiteral("disconnect"), QStringLiteral("schedon") }));
}

TEST_F(SchedulerTest, EmptySiteOrLocalFolderFieldOnlyLogs)
{
    host.settings.localFolder.clear();
    startEvery(1);
    time.advance(2 * kMinute);
    const QString line = QStringLiteral("log: FTP Site and Local Folder information required.");
    EXPECT_EQ(host.events, (QStringList { line, line }));
    EXPECT_TRUE(host.boxes.texts().isEmpty());
    EXPECT_TRUE(scheduler.isOn());
}

TEST_F(SchedulerTest, FailedConnectEndsTheRunAndTheNextDueTickTriesAgain)
{
    steps.onConnect = [&] {
        runStarts.push_back(time.localNow());
        host.writeLog(QStringLiteral("ERROR: cannot connect"));
        host.controlsSchedon();
        throw SilentStop();
    };
    startEvery(1);
    time.advance(2 * kMinute);
    EXPECT_EQ(host.events,
        (QStringList { QStringLiteral("connect"), QStringLiteral("log: ERROR: cannot connect"),
            QStringLiteral("schedon"), QStringLiteral("schedon"), QStringLiteral("connect"),
            QStringLiteral("log: ERROR: cannot connect"), QStringLiteral("schedon"),
            QStringLiteral("schedon") }));
    EXPECT_TRUE(scheduler.isOn());
}

TEST_F(SchedulerTest, RunEndsCleanlyWhateverEndsItsTransfer)
{
    struct Case {
        const char* what;
        std::function<void()> transfer;
        std::function<void()> disconnect;
        QStringList logged;
    };
    const std::vector<Case> cases {
        { "failed listing", [] { throw std::runtime_error("Permission denied."); }, {},
            { QStringLiteral("ERROR: Permission denied.") } },
        { "empty name template (already logged)", [] { throw SilentStop(); }, {}, {} },
        { "failed disconnect", {}, [] { throw std::runtime_error("socket"); },
            { QStringLiteral("ERROR: Cannot disconnect at this time.") } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        steps.onTransfer = c.transfer;
        steps.onDisconnect = c.disconnect;
        startEvery(1);
        time.advance(kMinute);
        EXPECT_EQ(host.logLines(), c.logged);
        // Still disconnected and back in the scheduler-on state.
        EXPECT_TRUE(host.events.contains(QStringLiteral("disconnect")));
        EXPECT_EQ(host.events.last(), QStringLiteral("schedon"));
        EXPECT_TRUE(host.boxes.texts().isEmpty());
        EXPECT_TRUE(scheduler.isOn());
        scheduler.stop();
    }
}

TEST_F(SchedulerTest, RunEndsInStandbyWhenTheSchedulerWasTurnedOffMeanwhile)
{
    // Stop Transfer frees the Start command; a refused Start turns the timers off.
    steps.onTransfer = [&] {
        host.controlsStandby();
        host.settings.host.clear();
        scheduler.start();
    };
    startEvery(1);
    time.advance(kMinute);
    EXPECT_FALSE(scheduler.isOn());
    EXPECT_EQ(host.events.last(), QStringLiteral("standby"));
}

// ---- Daily runs ----

TEST_F(SchedulerTest, DailyRunComesAtTheTimeEachDayAndNotTheSameDayWhenPast)
{
    time.advanceTo(wall(2024, 3, 15, 15, 0, 10));
    startDailyAt(QTime(14, 30, 0));
    time.advanceTo(wall(2024, 3, 16, 14, 29, 0));
    EXPECT_TRUE(runStarts.empty());
    time.advanceTo(wall(2024, 3, 16, 14, 31, 0));
    EXPECT_EQ(runStartTexts(), QStringList { QStringLiteral("03-16 14:30:00") });
}

TEST_F(SchedulerTest, DailyRunIsNotLostToJitteredTicks)
{
    // Ticks at 09:29:59.98 and, 30 ms late, at 09:30:01.01: no tick falls
    // within 09:30:00 itself.
    time.advanceTo(wall(2024, 3, 15, 9, 29, 58, 980));
    startDailyAt(QTime(9, 30, 0));
    int tick = 0;
    time.lateness = [&] { return ++tick == 2 ? qint64(30) : qint64(0); };
    time.advance(3 * kSecond);
    EXPECT_EQ(runStartTexts(), QStringList { QStringLiteral("03-15 09:30:01") });

    // Every day, however the ticks fall.
    std::mt19937 random(20240315);
    time.lateness = [&] { return qint64(std::uniform_int_distribution<int>(0, 60)(random)); };
    time.advance(2 * kDay);
    EXPECT_EQ(runStarts.size(), 3U);
}

TEST_F(SchedulerTest, DailyRunIsNotMadeUpAfterALongGap)
{
    startDailyAt(QTime(9, 0, 20));
    time.advance(15 * kSecond);
    time.block(10 * kSecond); // asleep over 09:00:20
    time.advance(kMinute);
    EXPECT_TRUE(runStarts.empty());
    EXPECT_TRUE(scheduler.isOn());
}

TEST_F(SchedulerTest, DaylightSavingForwardSkipsTheRunAndBackRepeatsIt)
{
    startDailyAt(QTime(2, 30, 0));
    // Spring: at 02:00 the clock jumps to 03:00.
    skipTo(wall(2024, 3, 31, 1, 59, 50));
    time.advance(10 * kSecond);
    time.shiftWall(kHour);
    time.advance(2 * kHour);
    EXPECT_TRUE(runStarts.empty());

    // Autumn: at 03:00 the clock goes back to 02:00, and 02:30 comes twice.
    skipTo(wall(2024, 10, 27, 2, 29, 50));
    time.advance(30 * kMinute + 10 * kSecond);
    time.shiftWall(-kHour);
    time.advance(2 * kHour);
    EXPECT_EQ(runStartTexts(),
        (QStringList { QStringLiteral("10-27 02:30:00"), QStringLiteral("10-27 02:30:00") }));
}

TEST_F(SchedulerTest, ClockPutBackBySecondsDoesNotRepeatTheRun)
{
    startDailyAt(QTime(9, 0, 30));
    time.advance(31 * kSecond);
    ASSERT_EQ(runStarts.size(), 1U);
    time.shiftWall(-2 * kSecond); // a time-synchronisation step
    time.advance(kMinute);
    EXPECT_EQ(runStarts.size(), 1U);
}

// ---- A run with its retries, for a caller that waits between attempts ----

// Something the run needs that is missing for now (a locked keyring) skips the
// attempt with its reason, and the job's retries apply as to a lost connection.
TEST(RunWithRetries, AnAttemptSkippedForAPassingReasonIsRetriedAsTheJobSays)
{
    struct Case {
        const char* what;
        int skippedAttempts;
        RunOutcome outcome;
        int waits;
    };
    const Case cases[] {
        { "ready at the second retry", 2, RunOutcome::Completed, 2 },
        { "never ready", 5, RunOutcome::Failed, 2 },
        { "ready at once", 0, RunOutcome::Completed, 0 },
    };
    const QString reason = QStringLiteral("The desktop keyring is locked; the passwords could not be read.");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSchedulerHost host;
        host.settings = completeJob();
        host.settings.retries = 2;
        host.settings.retryDelayMinutes = 3;
        FakeRunSteps steps(host);
        int asked = 0;
        std::vector<int> waits;
        const RunOutcome outcome = performRunWithRetries(
            RunKind::Interval, host, steps,
            [&waits](int minutes) {
                waits.push_back(minutes);
                return true;
            },
            [&] { return asked++ < c.skippedAttempts ? reason : QString(); });

        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(waits, std::vector<int>(static_cast<std::size_t>(c.waits), 3));
        QStringList expected;
        for (int i = 1; i <= std::min(c.skippedAttempts, 3); ++i) {
            expected << QStringLiteral("Run skipped: ") + reason;
            if (i <= 2)
                expected << QStringLiteral("Retrying in 3 minute(s) (attempt %1 of 2).").arg(i);
        }
        EXPECT_EQ(host.logLines(), expected);
        EXPECT_EQ(host.events.count(QStringLiteral("connect")), c.outcome == RunOutcome::Completed ? 1 : 0);
    }
}

} // namespace
} // namespace taskhaul::test
