// Start-up, activation, first paint, closing and log-off of the main window.
#include "app/scheduler_wiring.h"
#include "app/status_line.h"
#include "app/transfer_wiring.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPaintEvent>
#include <QSystemTrayIcon>
#include <QTest>

#include <cerrno>
#include <cstring>

namespace taskhaul::test {
namespace {

const QString kStarted = QStringLiteral("*** Taskhaul Started ***");
const QString kStartedAutomatic = QStringLiteral("*** Taskhaul Started (Automatic mode) ***");
const QString kHintOn = QStringLiteral("Taskhaul - Scheduler is ON");
const QString kHintOff = QStringLiteral("Taskhaul - Scheduler is OFF");

struct StartupCase {
    const char* name;
    std::map<QString, QString> stored;
    QStringList arguments;
    bool autoLoad, autoStart, minimized;
};

class StartupTest : public WindowTest, public ::testing::WithParamInterface<StartupCase> { };

TEST_P(StartupTest, OptionsAndSwitchesSetTheStartupBoxesForThisRunOnly)
{
    const StartupCase& c = GetParam();
    storeValues(c.stored);
    const StartupOptions before = store().readStartupOptions();
    MainWindow& w = createWindow(c.arguments);

    EXPECT_EQ(child<QCheckBox>("chkAutoLoad")->isChecked(), c.autoLoad);
    EXPECT_EQ(child<QCheckBox>("chkAutoStart")->isChecked(), c.autoStart);
    EXPECT_EQ(child<QCheckBox>("chkMinimized")->isChecked(), c.minimized);
    // Applying the options is not a change of the job.
    EXPECT_FALSE(w.testHooks().flags().configChanged);
    EXPECT_FALSE(enabled(Command::SaveConfiguration));
    EXPECT_EQ(w.testHooks().flags().autoStartPending, c.autoStart);
    EXPECT_EQ(w.testHooks().flags().minimizePending, c.minimized);
    EXPECT_EQ(w.testHooks().trayHint(), c.autoStart ? kHintOn : kHintOff);
    EXPECT_EQ(logMessages(), QStringList { c.autoStart ? kStartedAutomatic : kStarted });
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(store().readStartupOptions(), before); // switches are never saved
}

const QString T = QStringLiteral("True");

INSTANTIATE_TEST_SUITE_P(Cases, StartupTest,
    ::testing::Values(StartupCase { "NothingStored", {}, {}, false, false, false },
        StartupCase { "StoredTrueOnly",
            { { "Autoload", "true" }, { "Autostart", "TRUE" }, { "Minimized", "1" } }, {}, false, false,
            false },
        StartupCase { "StoredAutoStartChecksAutoLoad", { { "Autostart", T } }, {}, true, true, false },
        StartupCase { "StoredAll", { { "Autoload", T }, { "Autostart", T }, { "Minimized", T } }, {}, true,
            true, true },
        StartupCase { "SwitchR", {}, { "-r" }, true, true, false },
        StartupCase { "SwitchM", {}, { "-m" }, false, false, true },
        StartupCase { "BothSwitches", {}, { "-m", "-r" }, true, true, true },
        StartupCase {
            "OtherSpellingsIgnored", {}, { "-R", "-M", "/r", "--r", "r", "-rm" }, false, false, false },
        StartupCase {
            "SwitchesNeverTurnOff", { { "Autoload", T }, { "Minimized", T } }, { "-x" }, true, false, true }),
    [](const auto& info) { return std::string(info.param.name); });

class LifecycleTest : public WindowTest {
protected:
    // Replaces a command's handler by one that records its runs and then runs the old one.
    void recordRuns(Command command, QStringList* runs, const QString& name)
    {
        auto previous = hooks().commandHandler(command);
        hooks().setCommandHandler(command, [runs, name, previous] {
            *runs << name;
            if (previous)
                previous();
        });
    }

    // Another window takes the activation, then the main window gets it back.
    void reactivate()
    {
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        activate();
    }

    void activate()
    {
        window().show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    const std::map<QString, QString> savedJob { { "Host", "ftp.example.org" }, { "starttime", "10:00:00" },
        { "delay", "60" }, { "sequencevalue", "0" } };
};

// The job is loaded and the scheduler started once, when the window first
// comes up: activated, or only shown (a window manager without focus, or one
// that prevents focus stealing, never activates it).
// The program builds its engine and scheduler once and hands them to the
// window: the window's commands reach them, and they outlive the window.
TEST_F(LifecycleTest, TheProgramsEngineAndSchedulerAreHandedToTheWindow)
{
    TransferWiring transfer;
    SchedulerWiring scheduler(transfer, timeFormat());
    createWindow({}, &transfer, &scheduler);
    EXPECT_EQ(&hooks().transferWiring(), &transfer);

    trigger(Command::Connect); // no site given: the engine refuses, in the window's box
    EXPECT_EQ(boxes.texts(), QStringList({ QStringLiteral("FTP site information required.") }));
    destroyWindow();
    EXPECT_FALSE(transfer.engine().busy());
    EXPECT_FALSE(scheduler.scheduler().isOn());
}

TEST_F(LifecycleTest, AutoStartLoadsTheJobAndStartsTheSchedulerOnceTheWindowComesUp)
{
    for (const bool activated : { true, false }) {
        SCOPED_TRACE(activated ? "activated" : "shown only");
        storeValues(savedJob);
        createWindow({ "-r" });
        QStringList runs;
        recordRuns(Command::OpenConfiguration, &runs, "open");
        // Start turns the scheduler on, which disables Open Configuration.
        hooks().setCommandHandler(Command::StartScheduler, [&] {
            runs << "start";
            hooks().controlsSchedon();
        });

        if (activated) {
            activate();
        } else {
            QShowEvent shown;
            QApplication::sendEvent(&window(), &shown);
            QTest::qWait(20);
        }
        EXPECT_EQ(runs, (QStringList { "open", "start" }));
        EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.example.org");
        EXPECT_TRUE(hooks().transferWiring().engine().unattended());
        EXPECT_FALSE(hooks().flags().autoStartPending);

        // Later activations run nothing again.
        reactivate();
        EXPECT_EQ(runs, (QStringList { "open", "start" }));
    }
}

TEST_F(LifecycleTest, AutoStartThatStartRefusesStillLoads)
{
    auto job = savedJob;
    job.insert({ { "Autoload", "True" }, { "Autostart", "True" } });
    storeValues(job);
    createWindow();
    QStringList runs;
    recordRuns(Command::OpenConfiguration, &runs, "open");
    recordRuns(Command::StartScheduler, &runs, "start"); // does not turn the scheduler on
    activate();
    // Start stayed off, so the auto-load step ran Open Configuration a second time.
    EXPECT_EQ(runs, (QStringList { "open", "start", "open" }));
    EXPECT_EQ(hooks().trayHint(), kHintOn);
}

TEST_F(LifecycleTest, AutoLoadTickedLaterLoadsAtTheNextActivationAfterAsking)
{
    storeValues(savedJob);
    createWindow();
    activate();
    EXPECT_TRUE(child<QLineEdit>("Edit1")->text().isEmpty()); // nothing loaded without auto-load

    child<QCheckBox>("chkAutoLoad")->setChecked(true); // a change: the load asks first
    boxes.answerNext(MessageBoxes::Answer::Yes);
    reactivate();
    ASSERT_EQ(boxes.shown().size(), 1u) << boxes.texts().join("|").toStdString();
    EXPECT_EQ(boxes.shown()[0].kind, RecordingMessageBoxes::Kind::Confirmation);
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.example.org");
    EXPECT_FALSE(hooks().flags().autoLoadPending);
}

TEST_F(LifecycleTest, MinimizeOnStartHidesTheWindowAfterItsFirstPaint)
{
    for (const bool trayAvailable : { true, false }) {
        tray.isAvailable = trayAvailable;
        createWindow({ "-m" });
        window().show();
        QTest::qWait(50);
        QCoreApplication::processEvents();
        if (trayAvailable)
            EXPECT_FALSE(window().isVisible());
        else // without a notification area the window goes to the taskbar instead
            EXPECT_TRUE(window().isMinimized());
        EXPECT_FALSE(hooks().flags().minimizePending);
    }
}

TEST_F(LifecycleTest, MinimizedAutoStartStartsTheSchedulerAlsoWithoutAnActivation)
{
    storeValues(savedJob);
    createWindow({ "-r", "-m" });
    int starts = 0;
    hooks().setCommandHandler(Command::StartScheduler, [&] {
        ++starts;
        hooks().controlsSchedon();
    });
    // The first paint comes before any activation, as a window manager may order them.
    QPaintEvent paint(QRect(0, 0, 10, 10));
    QApplication::sendEvent(&window(), &paint);
    QTest::qWait(20);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.example.org");
    activate(); // the user opens it later: nothing runs twice
    EXPECT_EQ(starts, 1);
}

TEST_F(LifecycleTest, AnUnwritableLogNeitherStopsTheStartNorShowsABox)
{
    // The log's path is a folder: no line can be written there.
    ActivityLog broken(dir(QString()), timeFormat());
    MainWindowServices services;
    services.log = &broken;
    services.store = &store();
    services.messageBoxes = &boxes;
    services.shell = &shell;
    services.folderPicker = &picker;
    services.tray = &tray;
    services.notifier = &notices;
    MainWindow w(services);
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join('|').toStdString();
    EXPECT_EQ(w.windowTitle(), "Velmora Taskhaul - Oskra Edition");
    // The rest of the start-up ran: the schedule fields follow the schedule kind.
    EXPECT_NE(w.findChild<QWidget*>("DateTimePicker2")->isEnabled(),
        w.findChild<QWidget*>("SpinEdit4")->isEnabled());
    // Said where it stays in view, and told to the desktop once.
    const QString problem = w.testHooks().statusLineWidgets().logProblem();
    EXPECT_EQ(problem,
        QStringLiteral("The activity log cannot be written: %1 (%2)")
            .arg(QString::fromLocal8Bit(std::strerror(EISDIR)), broken.path()));
    ASSERT_EQ(notices.sent.size(), 1u);
    EXPECT_TRUE(notices.sent[0].failure);
    EXPECT_TRUE(notices.sent[0].body.contains(broken.path()));
    w.testHooks().writeLog(QStringLiteral("another line"));
    EXPECT_EQ(notices.sent.size(), 1u);
}

// ---- Closing ----------------------------------------------------------------------------

enum class CloseBy { CloseBox, FtpMenuExit, ExitKey, TrayMenuExit };

struct CloseCase {
    const char* name;
    CloseBy by;
    bool trayAvailable;
    bool changed;
    MessageBoxes::Answer answer;
    bool asks;
    bool ends;
    bool toTray; // hidden with the balloon
};

class CloseTest : public WindowTest, public ::testing::WithParamInterface<CloseCase> { };

TEST_P(CloseTest, CloseRequestsFollowTheExitRules)
{
    const CloseCase& c = GetParam();
    tray.isAvailable = c.trayAvailable;
    MainWindow& w = createWindow();
    bool ended = false;
    QObject::connect(&w, &MainWindow::closedForGood, [&] { ended = true; });
    w.show();
    if (c.changed)
        child<QLineEdit>("Edit1")->setText(QStringLiteral("changed"));
    boxes.answerNext(c.answer);

    switch (c.by) {
    case CloseBy::CloseBox:
        w.close();
        break;
    case CloseBy::FtpMenuExit:
        trigger(Command::Exit);
        break;
    case CloseBy::ExitKey:
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(child<QLineEdit>("Edit1"), Qt::Key_Q, Qt::ControlModifier);
        break;
    case CloseBy::TrayMenuExit:
        trigger(Command::ExitFromTray);
        break;
    }

    EXPECT_EQ(ended, c.ends);
    ASSERT_EQ(boxes.shown().size(), c.asks ? 1u : 0u);
    if (c.asks) {
        EXPECT_EQ(boxes.shown()[0].text, "The configuration information has changed.  Exit without saving?");
        EXPECT_EQ(boxes.shown()[0].defaultButton, "No"); // Enter keeps the program running
    }
    EXPECT_EQ(tray.balloons.size(), c.toTray ? 1u : 0u);
    if (c.toTray) {
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(tray.balloons[0].title, "Taskhaul");
        EXPECT_EQ(tray.balloons[0].text,
            "This application has been sent to the icon tray.\r"
            "Right-click on its icon and select Exit to end or double-click to "
            "restore.");
        EXPECT_EQ(tray.balloons[0].icon, TrayArea::BalloonIcon::Information);
        EXPECT_EQ(tray.balloons[0].seconds, 10);
    }
    if (!c.ends && !c.toTray) {
        EXPECT_TRUE(w.isVisible()); // a declined exit leaves the window as it was
    }
    EXPECT_FALSE(w.testHooks().flags().exitRequested && !c.ends);
}

using A = MessageBoxes::Answer;
INSTANTIATE_TEST_SUITE_P(Cases, CloseTest,
    ::testing::Values(CloseCase { "CloseBoxHidesEvenWithChanges", CloseBy::CloseBox, true, true, A::Yes,
                          false, false, true },
        // The FTP menu's Exit ends the program as the icon menu's does, and so does its key.
        CloseCase { "FtpExitUnchangedEnds", CloseBy::FtpMenuExit, true, false, A::No, false, true, false },
        CloseCase { "FtpExitChangedYesEnds", CloseBy::FtpMenuExit, true, true, A::Yes, true, true, false },
        CloseCase { "FtpExitChangedNoStays", CloseBy::FtpMenuExit, true, true, A::No, true, false, false },
        CloseCase { "ExitKeyChangedYesEnds", CloseBy::ExitKey, true, true, A::Yes, true, true, false },
        CloseCase { "TrayExitUnchangedEnds", CloseBy::TrayMenuExit, true, false, A::No, false, true, false },
        CloseCase { "TrayExitChangedYesEnds", CloseBy::TrayMenuExit, true, true, A::Yes, true, true, false },
        CloseCase { "TrayExitChangedNoStays", CloseBy::TrayMenuExit, true, true, A::No, true, false, false },
        CloseCase { "NoTrayCloseBoxEnds", CloseBy::CloseBox, false, false, A::No, false, true, false },
        CloseCase { "NoTrayCloseBoxAsks", CloseBy::CloseBox, false, true, A::No, true, false, false },
        CloseCase { "NoTrayFtpExitAsksYes", CloseBy::FtpMenuExit, false, true, A::Yes, true, true, false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LifecycleTest, DoubleClickOrOpenRestoresAHiddenWindow)
{
    createWindow();
    window().show();
    window().close(); // to the notification area
    ASSERT_FALSE(window().isVisible());
    trigger(Command::OpenFromTray);
    EXPECT_TRUE(window().isVisible());
    window().showMinimized();
    window().restoreMainWindow();
    EXPECT_FALSE(window().isMinimized());
}

TEST_F(LifecycleTest, ALeftClickOrDoubleClickOnTheRealIconRestoresTheWindow)
{
    MainWindowServices services;
    services.log = &log();
    services.store = &store();
    services.messageBoxes = &boxes;
    services.shell = &shell;
    services.folderPicker = &picker; // no tray: the window's own icon
    MainWindow w(services);
    auto* icon = w.findChild<QSystemTrayIcon*>();
    ASSERT_TRUE(icon);
    for (const auto reason : { QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick }) {
        w.show();
        w.hide();
        emit icon->activated(reason);
        EXPECT_TRUE(w.isVisible()) << int(reason);
    }
    w.hide();
    emit icon->activated(QSystemTrayIcon::Context); // the menu's button
    EXPECT_FALSE(w.isVisible());
}

TEST_F(LifecycleTest, EndOfSessionClosesWithoutAQuestion)
{
    createWindow();
    bool ended = false;
    QObject::connect(&window(), &MainWindow::closedForGood, [&] { ended = true; });
    window().show();
    child<QLineEdit>("Edit1")->setText(QStringLiteral("unsaved"));
    window().endSession();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(boxes.shown().empty());
}

} // namespace
} // namespace taskhaul::test
