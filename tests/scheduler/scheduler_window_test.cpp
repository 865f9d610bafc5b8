// The scheduler in the main window: its commands, the icon hint, the schedule
// group box and auto-start at the first activation.
#include "window_fixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

namespace taskhaul::test {
namespace {

const QString kHintOn = QStringLiteral("Taskhaul - Scheduler is ON");
const QString kHintOff = QStringLiteral("Taskhaul - Scheduler is OFF");

class SchedulerWindowTest : public WindowTest {
protected:
    JobSettings completeJob() const
    {
        JobSettings job;
        job.host = QStringLiteral("ftp.example.org");
        job.userName = QStringLiteral("alice");
        job.password = QStringLiteral("pw");
        job.localFolder = QStringLiteral("/tmp");
        job.fileKind = JobSettings::FileKind::AllFiles;
        job.dailyTime = QTime(10, 0, 0);
        return job;
    }

    void fillSiteFields()
    {
        child<QLineEdit>("Edit1")->setText(QStringLiteral("ftp.example.org"));
        child<QLineEdit>("Edit3")->setText(QStringLiteral("alice"));
        child<QLineEdit>("Edit4")->setText(QStringLiteral("pw"));
    }

    QString groupCaption() const { return child<QGroupBox>("GroupBox4")->title(); }
};

TEST_F(SchedulerWindowTest, StartAndStartStopTurnTheSchedulerOnAndOff)
{
    createWindow();
    fillSiteFields();
    child<QRadioButton>("RadioButton1")->setChecked(true); // all files: no name needed

    trigger(Command::StartScheduler);
    EXPECT_EQ(hooks().trayHint(), kHintOn);
    EXPECT_EQ(groupCaption(), QStringLiteral("Scheduler (ON)"));
    EXPECT_FALSE(enabled(Command::StartScheduler));
    EXPECT_TRUE(enabled(Command::StopScheduler));
    EXPECT_FALSE(child<QLineEdit>("Edit1")->isEnabled());

    trigger(Command::StartStopScheduler);
    EXPECT_EQ(hooks().trayHint(), kHintOff);
    EXPECT_EQ(groupCaption(), QStringLiteral("Scheduler (OFF)"));
    EXPECT_TRUE(enabled(Command::StartScheduler));
    EXPECT_TRUE(child<QLineEdit>("Edit1")->isEnabled());

    const QStringList messages = logMessages();
    EXPECT_TRUE(messages.contains(QStringLiteral("Scheduled transfer started for 00:00:00 --------+")));
    EXPECT_EQ(messages.last(), QStringLiteral("Scheduled transfer stopped at 14:05:09 --------+"));
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(SchedulerWindowTest, RefusedStartShowsItsMessageAndChangesNothing)
{
    createWindow();
    trigger(Command::StartScheduler);
    EXPECT_EQ(boxes.texts(), QStringList { QStringLiteral("FTP site information required.") });
    EXPECT_EQ(hooks().trayHint(), kHintOff);
    EXPECT_TRUE(enabled(Command::StartScheduler));
    EXPECT_EQ(groupCaption(), QStringLiteral("Scheduler (OFF)"));
}

TEST_F(SchedulerWindowTest, ResetTimersTakesTheTimeOfDay)
{
    createWindow();
    child<QToolButton>("SpeedButton4")->click();
    EXPECT_EQ(child<QTimeEdit>("DateTimePicker2")->time(), QTime(14, 5, 9));
    EXPECT_EQ(logMessages().last(), QStringLiteral("Timers reset"));
}

TEST_F(SchedulerWindowTest, AutoStartTurnsTheSchedulerOnAtTheFirstActivation)
{
    JobSettings job = completeJob();
    job.autoStart = true;
    job.autoLoad = true;
    store().save(job);
    createWindow();

    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));

    EXPECT_EQ(hooks().trayHint(), kHintOn);
    EXPECT_EQ(groupCaption(), QStringLiteral("Scheduler (ON)"));
    EXPECT_TRUE(logMessages().contains(QStringLiteral("Scheduled transfer started for 10:00:00 --------+")));
    EXPECT_TRUE(boxes.texts().isEmpty());
}

} // namespace
} // namespace taskhaul::test
