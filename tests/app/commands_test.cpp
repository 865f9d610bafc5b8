// The command table with its menus, toolbar and icon menu; the error guard;
// Open Configuration, Save Configuration and Clear All.
#include "app/event_guard.h"
#include "app/status_line.h"
#include "log/silent_stop.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <stdexcept>

namespace taskhaul::test {
namespace {

class CommandsTest : public WindowTest {
protected:
    void SetUp() override { createWindow(); }

    // The visible texts of a menu's or toolbar's entries; "-" for a separator.
    static QStringList entries(const QWidget* widget)
    {
        QStringList texts;
        for (const QAction* action : widget->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return texts;
    }

    QMenu* menu(const QString& title)
    {
        for (QAction* action : window().menuBar()->actions())
            if (action->text() == title)
                return action->menu();
        return nullptr;
    }
};

TEST_F(CommandsTest, CommandsCarryTheirCaptionsHintsAndShortcuts)
{
    struct Case {
        Command command;
        const char* objectName;
        const char* caption;
        const char* toolTip;
        const char* statusTip;
        const char* shortcut;
    };
    const Case cases[] = {
        { Command::OpenConfiguration, "Action1", "&Open Configuration", "Open configuration",
            "Load the saved information", "Ctrl+O" },
        { Command::Connect, "Action3", "&Connect", "Connect", "Establish an FTP connection", "Ctrl+E" },
        { Command::StopTransfer, "Action6", "Sto&p Transfer", "Stop transfer", "Stop file transfer", "" },
        { Command::ClearAll, "Action8", "Cle&ar All", "Clear All", "Clear all information", "Ctrl+W" },
        { Command::HomePage, "Action15", "&Velmora Home Page", "Velmora home page",
            "Displays Velmora's Web site", "" },
        { Command::StartStopScheduler, "Action20", "Start/Stop", "Start/Stop the scheduler",
            "Start/Stop the scheduler", "" },
        { Command::ViewLocalFolder, "Action21", "Local &Folder...", "Local folder", "View the local folder",
            "" },
        { Command::EditDelete, "EditDelete1", "&Delete", "Delete", "Erases the selection", "Del" },
        { Command::EditSelectAll, "EditSelectAll1", "Select &All", "Select All",
            "Selects the entire document", "Ctrl+A" },
    };
    for (const Case& c : cases) {
        QAction* action = window().action(c.command);
        EXPECT_EQ(action->objectName(), c.objectName);
        EXPECT_EQ(action->text(), c.caption) << c.objectName;
        EXPECT_EQ(action->toolTip(), c.toolTip) << c.objectName;
        EXPECT_EQ(action->statusTip(), c.statusTip) << c.objectName;
        EXPECT_EQ(action->shortcut(), QKeySequence(QString::fromLatin1(c.shortcut))) << c.objectName;
    }
    // Every command's objectName is unique and every numbered command exists.
    QSet<QString> names;
    for (const auto& info : commandTable())
        names.insert(window().action(info.command)->objectName());
    EXPECT_EQ(names.size(), kCommandCount);
    for (int n = 1; n <= 21; ++n)
        EXPECT_TRUE(names.contains(QStringLiteral("Action%1").arg(n))) << n;
}

TEST_F(CommandsTest, MenusToolbarAndIconMenuListTheCommandsInOrder)
{
    QStringList titles;
    for (QAction* action : window().menuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList { "&FTP", "&Edit", "&View", "&Scheduler", "&Help" }));
    EXPECT_EQ(entries(menu("&FTP")),
        (QStringList { "&Open Configuration", "&Save Configuration", "-", "&Connect", "&Disconnect", "-",
            "&Transfer", "Sto&p Transfer", "-", "E&xit" }));
    EXPECT_EQ(entries(menu("&Edit")),
        (QStringList { "&Undo", "-", "Cu&t", "&Copy", "&Paste", "&Delete", "Select &All", "-", "C&lear All",
            "-", "D&elete Log File" }));
    EXPECT_EQ(entries(menu("&View")),
        (QStringList { "&Wild Cards Format...", "-", "Local &Folder...", "&Log File..." }));
    EXPECT_EQ(entries(menu("&Scheduler")), (QStringList { "&Start", "S&top" }));
    EXPECT_EQ(entries(menu("&Help")),
        (QStringList { "&Help...", "&Manual Page (man taskhaul)", "-", "&Velmora Home Page",
            "&Check for Updates", "-", "&About..." }));
    EXPECT_EQ(entries(window().findChild<QToolBar*>("ActionToolBar1")),
        (QStringList { "&Open", "&Save Configuration", "-", "&Connect", "&Disconnect", "-", "&Transfer",
            "Sto&p Transfer", "-", "St&art/Stop", "-", "Local &Folder...", "&Log File..." }));
    QMenu* trayMenu = hooks().trayMenu();
    EXPECT_EQ(entries(trayMenu),
        (QStringList { "&Start", "S&top", "-", "Local &Folder...", "&Log File...", "-", "&Help...", "-",
            "&Velmora Home Page", "&Check for Updates", "-", "&Open", "E&xit" }));
    EXPECT_EQ(trayMenu->defaultAction()->objectName(), "Open1");
    EXPECT_TRUE(trayMenu->defaultAction()->font().bold());
}

TEST_F(CommandsTest, EntriesWithTheirOwnCaptionFollowTheirCommand)
{
    QMenu* edit = menu("&Edit");
    QAction* clearAll = edit->actions().at(8);
    ASSERT_EQ(clearAll->text(), "C&lear All");
    hooks().controlsSchedon();
    EXPECT_FALSE(clearAll->isEnabled());
    hooks().controlsStandby();
    EXPECT_TRUE(clearAll->isEnabled());
    child<QLineEdit>("Edit1")->setText(QStringLiteral("host"));
    clearAll->trigger();
    EXPECT_TRUE(child<QLineEdit>("Edit1")->text().isEmpty());
}

TEST_F(CommandsTest, ADisabledCommandDoesNothingAlsoWhenTheProgramRunsIt)
{
    int runs = 0;
    hooks().setCommandHandler(Command::StartScheduler, [&] { ++runs; });
    hooks().controlsSchedon(); // Start off
    trigger(Command::StartScheduler);
    window().runCommand(Command::StartScheduler);
    EXPECT_EQ(runs, 0);
    hooks().controlsStandby();
    window().runCommand(Command::StartScheduler);
    EXPECT_EQ(runs, 1);
}

TEST_F(CommandsTest, ErrorsOfACommandAreShownOnceAndSilentStopsNotAtAll)
{
    struct Case {
        std::function<void()> body;
        bool shown;
        const char* text;
    };
    const Case cases[] = {
        { [] { throw std::runtime_error("Disk full"); }, true, "Disk full." },
        { [] { throw std::runtime_error("Done."); }, true, "Done." },
        { [] { throw std::runtime_error("(none)"); }, true, "(none)" },
        { [] { throw SilentStop(); }, false, "" },
    };
    for (const Case& c : cases) {
        boxes.clear();
        hooks().setCommandHandler(Command::Help, c.body);
        trigger(Command::Help); // the error never reaches Qt's event loop
        ASSERT_EQ(boxes.shown().size(), c.shown ? 1u : 0u);
        if (c.shown) {
            EXPECT_EQ(boxes.shown()[0].kind, RecordingMessageBoxes::Kind::Error);
            EXPECT_EQ(boxes.shown()[0].caption, "Taskhaul");
            EXPECT_EQ(boxes.shown()[0].text, c.text);
        }
    }
    // Field handlers run under the same guard.
    EXPECT_FALSE(runGuarded(boxes, [] { throw SilentStop(); }));
    EXPECT_TRUE(runGuarded(boxes, [] {}));
}

TEST_F(CommandsTest, EditCommandsActOnTheFocusedTextFieldOnly)
{
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    window().findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setFocus();
    EXPECT_FALSE(enabled(Command::EditPaste));

    auto* host = child<QLineEdit>("Edit1");
    host->setText(QStringLiteral("ftp.example.org"));
    host->setFocus();
    ASSERT_TRUE(enabled(Command::EditSelectAll));
    trigger(Command::EditSelectAll);
    trigger(Command::EditCut);
    EXPECT_TRUE(host->text().isEmpty());
    trigger(Command::EditPaste);
    trigger(Command::EditPaste);
    EXPECT_EQ(host->text(), "ftp.example.orgftp.example.org");
    trigger(Command::EditUndo);
    EXPECT_EQ(host->text(), "ftp.example.org");
}

// On X11 a line edit keeps Ctrl+E (end of line) and Ctrl+D (delete) for itself.
// Where the platform has no such bindings (the offscreen platform), the field is
// made to claim those keys the same way.
class ClaimsEditingKeys : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->modifiers() == Qt::ControlModifier
                && (key->key() == Qt::Key_E || key->key() == Qt::Key_D))
                event->accept();
        }
        return false;
    }
};

TEST_F(CommandsTest, CommandKeysWinOverTheKeyBindingsOfTheFocusedField)
{
    int connects = 0;
    int disconnects = 0;
    hooks().setCommandHandler(Command::Connect, [&] { ++connects; });
    hooks().setCommandHandler(Command::Disconnect, [&] { ++disconnects; });
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));

    auto* host = child<QLineEdit>("Edit1");
    ClaimsEditingKeys claims;
    if (!QKeySequence::keyBindings(QKeySequence::MoveToEndOfLine)
             .contains(QKeySequence(QStringLiteral("Ctrl+E"))))
        host->installEventFilter(&claims);
    host->setText(QStringLiteral("ftp.example.org"));
    host->setFocus();
    host->setCursorPosition(0);
    ASSERT_EQ(QApplication::focusWidget(), host);

    QTest::keyClick(host, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(connects, 1);
    EXPECT_EQ(host->cursorPosition(), 0); // the field did not move to the end

    // Disconnect is disabled in standby: its key does nothing, in the field neither.
    ASSERT_FALSE(enabled(Command::Disconnect));
    QTest::keyClick(host, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(disconnects, 0);
    EXPECT_EQ(host->text(), "ftp.example.org");
    window().action(Command::Disconnect)->setEnabled(true);
    QTest::keyClick(host, Qt::Key_D, Qt::ControlModifier);
    EXPECT_EQ(disconnects, 1);
    EXPECT_EQ(host->text(), "ftp.example.org");

    // The edit commands' keys stay with the field, whose bindings they are.
    host->selectAll();
    QTest::keyClick(host, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(host, Qt::Key_End);
    QTest::keyClick(host, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(host->text(), "ftp.example.orgftp.example.org");
}

TEST_F(CommandsTest, HintsShowBesideTheStatusLineAndNeverWipeIt)
{
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    auto* status = child<QLabel>("StatusText");
    auto* hint = child<QLabel>("HintText");
    ASSERT_TRUE(status && hint);
    hooks().setStatusLine(QStringLiteral("Transferring ftp://ftp.example.org/pub/report.csv"));

    // The mouse on a menu item: its long hint shows, the status line stays.
    QMenu* ftp = menu(QStringLiteral("&FTP"));
    ftp->popup(window().mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ftp));
    QAction* connectItem = window().action(Command::Connect);
    QTest::mouseMove(ftp, ftp->actionGeometry(connectItem).center());
    QTRY_COMPARE(hint->text(), QStringLiteral("Establish an FTP connection"));
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(status->text(), "Transferring ftp://ftp.example.org/pub/report.csv");
    EXPECT_TRUE(status->isVisible());

    // Leaving the menu ends the hint; the status line still reads the same.
    ftp->close();
    QStatusTipEvent none { QString() };
    QApplication::sendEvent(&window(), &none);
    EXPECT_FALSE(hint->isVisible());
    EXPECT_EQ(hooks().statusLine(), "Transferring ftp://ftp.example.org/pub/report.csv");
    EXPECT_EQ(status->text(), hooks().statusLine());
}

TEST_F(CommandsTest, AHintGoesWithTheControlItDescribed)
{
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    auto* hint = child<QLabel>("HintText");
    ASSERT_TRUE(hint);
    const auto showHint = [&] {
        QStatusTipEvent tip(QStringLiteral("Establish an FTP connection"));
        QApplication::sendEvent(&window(), &tip);
        ASSERT_TRUE(hint->isVisible());
    };

    // The command ran: its button or menu item is done with.
    showHint();
    trigger(Command::Help);
    EXPECT_TRUE(hint->text().isEmpty());
    EXPECT_FALSE(hint->isVisible());

    // The menu closed while the mouse still rested on an item.
    QMenu* ftp = menu(QStringLiteral("&FTP"));
    ftp->popup(window().mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ftp));
    showHint();
    ftp->close();
    EXPECT_FALSE(hint->isVisible());

    // The window went to the notification area.
    showHint();
    window().hide();
    EXPECT_TRUE(hint->text().isEmpty());
}

TEST_F(CommandsTest, ALongStatusTextIsShortenedInTheMiddleAndKeepsTheWindowsWidth)
{
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    const int width = window().width();
    const QString text = QStringLiteral("Transferring ftp://ftp.example.org/")
        + QString(300, QLatin1Char('x')) + QStringLiteral("/report-20260306.csv");
    hooks().setStatusLine(text);
    QApplication::processEvents();

    EXPECT_EQ(window().width(), width);
    EXPECT_EQ(hooks().statusLine(), text);
    auto* status = window().findChild<ElidedLabel*>(QStringLiteral("StatusText"));
    ASSERT_TRUE(status);
    EXPECT_LE(status->geometry().right(), window().statusBar()->width());
    const QString shown = status->shownText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Transferring"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("report-20260306.csv"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
}

TEST_F(CommandsTest, ValidateButtonsShowTheExpandedName)
{
    child<QLineEdit>("Edit6")->setText(QStringLiteral("report-[yyyy][MM][pdd]-[seq].csv"));
    child<QLineEdit>("Edit7")->setText(QStringLiteral("[HH][mm][ss].csv"));
    child<QCheckBox>("CheckBox2")->setChecked(true);
    hooks().setSequenceStart(7);
    for (const char* name : { "SpeedButton1", "SpeedButton5" }) {
        EXPECT_EQ(child<QToolButton>(name)->toolTip(), "Validate time wild cards") << name;
        EXPECT_EQ(child<QToolButton>(name)->statusTip(), "Validate time wild cards") << name;
    }
    child<QToolButton>("SpeedButton1")->click();
    child<QToolButton>("SpeedButton5")->click();
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].kind, RecordingMessageBoxes::Kind::Information);
    // The clock reads 2026-03-07 14:05:09.
    EXPECT_EQ(boxes.shown()[0].text, "The file name is: report-20260306-7.csv");
    EXPECT_EQ(boxes.shown()[1].text, "The file name is: 140509.csv");
}

TEST_F(CommandsTest, AboutAndWildCardsShowTheirWindowsModally)
{
    window().move(40, 30);
    for (const auto& [command, name] :
        { std::pair { Command::About, "TAboutBox" }, std::pair { Command::WildCardsFormat, "Twild" } }) {
        QString shown;
        QPoint where;
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            shown = modal->objectName();
            where = modal->pos();
            modal->close();
        });
        trigger(command);
        EXPECT_EQ(shown, name);
        if (command == Command::WildCardsFormat) {
            EXPECT_EQ(where, QPoint(340, 80));
        }
    }
}

// ---- Open Configuration, Save Configuration, Clear All ---------------------------------

JobSettings everyFieldChanged()
{
    JobSettings job;
    job.host = QStringLiteral("ftp.example.org");
    job.port = QStringLiteral("2121");
    job.remoteFolder = QStringLiteral("/pub/daily");
    job.userName = QStringLiteral("reader");
    job.password = QStringLiteral("s3cr\u00e9t");
    job.localFolder = QStringLiteral("/srv/incoming");
    job.fileKind = JobSettings::FileKind::AllFiles;
    job.fileName = QStringLiteral("report[yyyy][MM][dd].csv");
    job.rename = true;
    job.renameTo = QStringLiteral("latest[seq].csv");
    job.scheduleKind = JobSettings::ScheduleKind::Interval;
    job.dailyTime = QTime(23, 59, 58);
    job.intervalMinutes = 527040;
    job.proxyType = 5;
    job.proxyHost = QStringLiteral("proxy.example.org");
    job.proxyPort = QStringLiteral("8021");
    job.proxyUserName = QStringLiteral("gate");
    job.proxyPassword = QStringLiteral("p\u00e4ss");
    job.passive = true;
    job.overwrite = false;
    job.autoLoad = true;
    job.autoStart = false;
    job.minimized = true;
    job.resetSequence = true;
    job.sequenceStart = 999999;
    job.notifySuccess = true;
    job.security = JobSettings::Security::Explicit;
    job.trustedCertificate = QString(64, QLatin1Char('B'));
    job.onlyNewer = true;
    job.settleSeconds = 90;
    job.retries = 3;
    job.retryDelayMinutes = 15;
    return job;
}

TEST_F(CommandsTest, SaveThenClearThenOpenBringsBackEveryField)
{
    const JobSettings saved = everyFieldChanged();
    store().save(saved);
    child<QLineEdit>("Edit1")->setText(QStringLiteral("typed"));
    trigger(Command::OpenConfiguration); // asks: the host field changed
    ASSERT_EQ(hooks().jobSettings(), saved);
    EXPECT_FALSE(hooks().flags().configChanged);
    EXPECT_FALSE(enabled(Command::SaveConfiguration));

    child<QLineEdit>("Edit3")->setText(QStringLiteral("other"));
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
    trigger(Command::SaveConfiguration);
    EXPECT_FALSE(hooks().flags().configChanged);
    EXPECT_FALSE(enabled(Command::SaveConfiguration));

    trigger(Command::ClearAll);
    JobSettings cleared = hooks().jobSettings();
    EXPECT_TRUE(cleared.host.isEmpty());
    EXPECT_EQ(cleared.port, "21");
    EXPECT_EQ(cleared.fileKind, JobSettings::FileKind::OneFile);
    EXPECT_EQ(cleared.dailyTime, QTime(14, 5, 9)); // the clock's time of day
    EXPECT_EQ(cleared.intervalMinutes, 527040); // kept
    EXPECT_EQ(cleared.sequenceStart, 999999); // kept
    EXPECT_TRUE(cleared.resetSequence); // kept
    EXPECT_FALSE(cleared.autoLoad || cleared.autoStart || cleared.minimized);
    EXPECT_FALSE(hooks().flags().configChanged);
    EXPECT_EQ(logMessages().constLast(), "Parameters reset");

    trigger(Command::OpenConfiguration); // nothing changed since Clear All: no question
    JobSettings expected = saved;
    expected.userName = QStringLiteral("other");
    EXPECT_EQ(hooks().jobSettings(), expected);
    ASSERT_EQ(boxes.shown().size(), 1u); // only the first open asked
    EXPECT_EQ(boxes.shown()[0].text,
        "The configuration information has changed.  Do you wish to override your "
        "changes with the saved configuration?");
}

// A new job (the window at start, Clear All) is passive; a stored job opens as
// it was stored, and one stored without the value opens active, as it always did.
TEST_F(CommandsTest, ANewJobIsPassiveAndAStoredJobKeepsItsMode)
{
    auto* passive = child<QCheckBox>("CheckBox3");
    EXPECT_TRUE(passive->isChecked());
    EXPECT_TRUE(hooks().jobSettings().passive);

    JobSettings active = everyFieldChanged();
    active.passive = false;
    store().save(active);
    trigger(Command::OpenConfiguration);
    EXPECT_FALSE(passive->isChecked());
    trigger(Command::ClearAll);
    EXPECT_TRUE(passive->isChecked());

    QSettings(store().filePath(), QSettings::IniFormat).remove(QStringLiteral("Options/passive"));
    trigger(Command::OpenConfiguration);
    EXPECT_FALSE(passive->isChecked());
}

TEST_F(CommandsTest, OpenAfterChangesAsksAndNoKeepsTheFields)
{
    store().save(everyFieldChanged());
    child<QLineEdit>("Edit1")->setText(QStringLiteral("mine"));
    boxes.answerNext(MessageBoxes::Answer::No);
    trigger(Command::OpenConfiguration);
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "mine");
    EXPECT_TRUE(hooks().flags().configChanged);
}

TEST_F(CommandsTest, AFailingValueStopsTheLoadQuietlyUnlessTheUserAskedForIt)
{
    storeValues({ { "Host", "ftp.example.org" }, { "renamecheck", "True" }, { "starttime", "25:99" } });
    child<QLineEdit>("Edit4")->setText(QStringLiteral("kept"));
    hooks().flags().configChanged = false;
    // The stored rename flag enables the new name directly, in every state.
    hooks().controlsSchedon();
    hooks().openConfigurationCommand();
    EXPECT_TRUE(child<QLineEdit>("Edit7")->isEnabled());
    EXPECT_TRUE(child<QToolButton>("SpeedButton5")->isEnabled());
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(child<QLineEdit>("Edit1")->text(), "ftp.example.org");
    EXPECT_EQ(child<QLineEdit>("Edit4")->text(), "kept"); // missing value: field unchanged
    EXPECT_TRUE(child<QCheckBox>("CheckBox2")->isChecked());
    EXPECT_TRUE(hooks().flags().configChanged); // the load stopped before its end
    EXPECT_TRUE(enabled(Command::SaveConfiguration));

    boxes.answerNext(MessageBoxes::Answer::Yes);
    hooks().controlsStandby();
    trigger(Command::OpenConfiguration);
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].kind, RecordingMessageBoxes::Kind::Error);
    EXPECT_EQ(boxes.shown()[1].caption, "Taskhaul");
    EXPECT_EQ(boxes.shown()[1].text, "'25:99' is not a valid time.");
}

} // namespace
} // namespace taskhaul::test
