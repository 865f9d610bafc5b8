// The control-state table, its application to the window, and the input
// handlers that keep dependent fields consistent.
#include "app/control_states.h"
#include "app/input_rules.h"
#include "window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <set>

namespace taskhaul::test {
namespace {

class ControlStatesTest : public WindowTest {
protected:
    void SetUp() override { createWindow(); }

    // Whether the control or command of that objectName is enabled.
    bool on(const QString& name) const
    {
        for (const auto& info : commandTable())
            if (name == QLatin1String(info.objectName))
                return window().action(info.command)->isEnabled();
        return window().findChild<QWidget*>(name)->isEnabled();
    }
    bool on(const char* name) const { return on(QString::fromLatin1(name)); }
    const MainWindow& window() const { return const_cast<ControlStatesTest*>(this)->WindowTest::window(); }
    using WindowTest::window;

    QString scheduleCaption() const { return child<QGroupBox>("GroupBox4")->title(); }
};

TEST_F(ControlStatesTest, EveryNameOfTheTableIsExactlyOneControlOrCommandOfTheWindow)
{
    std::set<QString> seen;
    for (const auto& row : controlTable()) {
        for (const char* name : row.names) {
            const QString objectName = QString::fromLatin1(name);
            EXPECT_TRUE(seen.insert(objectName).second) << name << " is listed twice";
            int matches = int(window().findChildren<QWidget*>(objectName).size());
            for (const auto& info : commandTable())
                matches += objectName == QLatin1String(info.objectName);
            EXPECT_EQ(matches, 1) << name;
        }
    }
}

// The commands no state touches.
const char* const kAlwaysOn[] = { "Action7", "Action9", "Action10", "Action12", "Action13", "Action15",
    "Action16", "Action17", "Action18", "Action19", "Action21" };
// A sample of the job's fields, all locked outside standby.
const char* const kJobFields[] = { "Edit1", "Edit10", "Edit2", "Edit3", "Edit4", "Edit5", "SpeedButton2",
    "SpeedButton3", "RadioButton1", "RadioButton2", "RadioButton3", "RadioButton4", "SpeedButton4",
    "cbProxyType", "edtProxyPort", "CheckBox1", "CheckBox3", "SpinEdit1", "CheckBox4", "chkAutoStart",
    "chkMinimized", "chkAutoLoad", "spnConnections" };

// The number of connections: a spin box of the Options tab that says when a
// run keeps to one, marks the job changed and goes to the store and back.
TEST_F(ControlStatesTest, TheConnectionsBoxIsAnOptionOfTheJob)
{
    auto* box = child<QSpinBox>("spnConnections");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->value(), 1);
    EXPECT_EQ(box->minimum(), 1);
    EXPECT_EQ(box->maximum(), 8);
    EXPECT_TRUE(box->toolTip().contains(QStringLiteral("Download up to N files at once")));
    EXPECT_TRUE(box->toolTip().contains(QStringLiteral("sequence field [seq] runs with one connection")));
    hooks().controlsStandby();
    EXPECT_FALSE(enabled(Command::SaveConfiguration));
    box->setValue(4);
    EXPECT_EQ(hooks().jobSettings().connections, 4);
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
    trigger(Command::SaveConfiguration);
    EXPECT_EQ(store().load(JobSettings {}).settings.connections, 4);
    JobSettings two = store().load(JobSettings {}).settings;
    two.connections = 2;
    store().save(two);
    trigger(Command::OpenConfiguration);
    EXPECT_EQ(box->value(), 2);
}

TEST_F(ControlStatesTest, SchedulerOnLocksTheJobAndLeavesStopAndStartStop)
{
    hooks().controlsSchedon();
    for (const char* name : kJobFields)
        EXPECT_FALSE(on(name)) << name;
    for (const char* name :
        { "Edit6", "Edit7", "SpeedButton1", "SpeedButton5", "CheckBox2", "DateTimePicker2", "SpinEdit4",
            "Action1", "Action2", "Action3", "Action4", "Action5", "Action6", "Action8", "Action11" })
        EXPECT_FALSE(on(name)) << name;
    EXPECT_TRUE(on("Action14"));
    EXPECT_TRUE(on("Action20"));
    for (const char* name : kAlwaysOn)
        EXPECT_TRUE(on(name)) << name;
    EXPECT_EQ(scheduleCaption(), "Scheduler (ON)");
}

TEST_F(ControlStatesTest, ConnectedLeavesOnlyDisconnectAndTransferOfTheFtpCommands)
{
    hooks().controlsSchedon();
    hooks().controlsConnected();
    for (const char* name : kJobFields)
        EXPECT_FALSE(on(name)) << name;
    EXPECT_TRUE(on("Action4"));
    EXPECT_TRUE(on("Action5"));
    for (const char* name :
        { "Action1", "Action2", "Action3", "Action6", "Action8", "Action11", "Action14", "Action20" })
        EXPECT_FALSE(on(name)) << name;
    for (const char* name : kAlwaysOn)
        EXPECT_TRUE(on(name)) << name;
    EXPECT_EQ(scheduleCaption(), "Scheduler (OFF)");
}

TEST_F(ControlStatesTest, ABusyConnectLeavesOnlyWhatEndsIt)
{
    child<QLineEdit>("Edit1")->setText(QStringLiteral("changed")); // Save would be on in standby
    hooks().controlsStandby();
    hooks().controlsBusy();
    for (const char* name : kJobFields)
        EXPECT_FALSE(on(name)) << name;
    EXPECT_TRUE(on("Action4"));
    EXPECT_TRUE(on("Action6"));
    for (const char* name : { "Edit6", "Edit7", "DateTimePicker2", "SpinEdit4", "Action1", "Action2",
             "Action3", "Action5", "Action8", "Action11", "Action14", "Action20" })
        EXPECT_FALSE(on(name)) << name;
    for (const char* name : kAlwaysOn)
        EXPECT_TRUE(on(name)) << name;
    EXPECT_EQ(scheduleCaption(), "Scheduler (OFF)");
}

TEST_F(ControlStatesTest, StandbyFollowsTheChoicesAndKeepsSaveForUnsavedChanges)
{
    struct Case {
        bool allFiles, rename, every, autoStart;
    };
    child<QLineEdit>("Edit1")->setText(QStringLiteral("changed"));
    for (const Case c : { Case { false, false, false, false }, Case { false, true, true, true },
             Case { true, true, false, true }, Case { true, false, true, false } }) {
        hooks().controlsConnected();
        child<QRadioButton>(c.allFiles ? "RadioButton1" : "RadioButton2")->setChecked(true);
        child<QCheckBox>("CheckBox2")->setChecked(c.rename);
        child<QRadioButton>(c.every ? "RadioButton4" : "RadioButton3")->setChecked(true);
        child<QCheckBox>("chkAutoStart")->setChecked(c.autoStart);
        hooks().controlsConnected(); // the handlers above may have enabled fields
        hooks().controlsStandby();

        for (const char* name : kJobFields) {
            if (QLatin1String(name) != QLatin1String("chkAutoLoad")) {
                EXPECT_TRUE(on(name)) << name;
            }
        }
        EXPECT_EQ(on("chkAutoLoad"), !c.autoStart);
        EXPECT_EQ(on("Edit6"), !c.allFiles);
        EXPECT_EQ(on("SpeedButton1"), !c.allFiles);
        EXPECT_EQ(on("CheckBox2"), !c.allFiles);
        EXPECT_EQ(on("Edit7"), !c.allFiles && c.rename);
        EXPECT_EQ(on("SpeedButton5"), !c.allFiles && c.rename);
        EXPECT_EQ(on("DateTimePicker2"), !c.every);
        EXPECT_EQ(on("SpinEdit4"), c.every);
        for (const char* name : { "Action1", "Action3", "Action8", "Action11", "Action20" })
            EXPECT_TRUE(on(name)) << name;
        for (const char* name : { "Action4", "Action5", "Action6", "Action14" })
            EXPECT_FALSE(on(name)) << name;
        EXPECT_TRUE(on("Action2")); // the clicks above are unsaved changes
        EXPECT_EQ(scheduleCaption(), "Scheduler (OFF)");
    }
    trigger(Command::SaveConfiguration);
    hooks().controlsStandby();
    EXPECT_FALSE(on("Action2"));
}

// ---- Input handlers ------------------------------------------------------------------

class InputHandlersTest : public ControlStatesTest { };

TEST_F(InputHandlersTest, PortFieldsTakeOnlyDigitsAndBackspaceFromTheKeyboard)
{
    for (const char* name : { "Edit10", "edtProxyPort" }) {
        auto* port = child<QLineEdit>(name);
        port->clear();
        QTest::keyClicks(port, "a1- 2x+3");
        EXPECT_EQ(port->text(), "123") << name;
        QTest::keyClick(port, Qt::Key_Backspace);
        EXPECT_EQ(port->text(), "12") << name;
        // Pasting is not filtered.
        port->insert(QStringLiteral("ab"));
        EXPECT_EQ(port->text(), "12ab") << name;
    }
}

TEST_F(InputHandlersTest, LeavingAnEmptyFieldPutsItsDefaultBackAndMarksTheChange)
{
    struct Case {
        const char* name;
        const char* restored;
    };
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    for (const Case c : { Case { "Edit10", "21" }, Case { "edtProxyPort", "0" }, Case { "Edit2", "/" } }) {
        hooks().flags().configChanged = false;
        auto* edit = child<QLineEdit>(c.name);
        edit->setFocus();
        edit->clear();
        hooks().flags().configChanged = false;
        child<QLineEdit>("Edit5")->setFocus();
        EXPECT_EQ(edit->text(), c.restored) << c.name;
        EXPECT_TRUE(hooks().flags().configChanged) << c.name;
    }
    // A field with text keeps it.
    child<QLineEdit>("Edit2")->setFocus();
    child<QLineEdit>("Edit2")->setText(QStringLiteral("pub"));
    child<QLineEdit>("Edit5")->setFocus();
    EXPECT_EQ(child<QLineEdit>("Edit2")->text(), "pub");
}

TEST_F(InputHandlersTest, EmptyFieldsGetTheirDefaultOnlyWhenTheFocusMovesToAnotherControl)
{
    struct Case {
        Qt::FocusReason reason;
        bool restores;
    };
    const Case cases[] = {
        { Qt::TabFocusReason, true }, { Qt::BacktabFocusReason, true }, { Qt::MouseFocusReason, true },
        { Qt::ShortcutFocusReason, true }, { Qt::OtherFocusReason, true },
        { Qt::PopupFocusReason, false }, // a menu or the field's context menu
        { Qt::MenuBarFocusReason, false }, // Alt to the menu bar
        { Qt::ActiveWindowFocusReason, false }, // another window, or hidden to the tray
    };
    for (const Case c : cases) {
        for (const char* name : { "Edit10", "edtProxyPort", "Edit2" }) {
            auto* edit = child<QLineEdit>(name);
            edit->clear();
            QFocusEvent out(QEvent::FocusOut, c.reason);
            QApplication::sendEvent(edit, &out);
            EXPECT_EQ(edit->text().isEmpty(), !c.restores) << name << " reason " << int(c.reason);
        }
    }
}

TEST_F(InputHandlersTest, AnEmptiedPortFieldStaysEmptyWhileAMenuIsOpenAndTabFillsIt)
{
    window().show();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    auto* port = child<QLineEdit>("Edit10");
    port->setFocus();
    port->clear();

    QMenu* ftp = window().menuBar()->actions().constFirst()->menu();
    ftp->popup(window().mapToGlobal(QPoint(0, 0)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(ftp));
    EXPECT_TRUE(port->text().isEmpty());
    ftp->close();
    QTest::qWait(20);
    EXPECT_TRUE(port->text().isEmpty());
    ASSERT_TRUE(port->hasFocus());

    QTest::keyClick(port, Qt::Key_Tab);
    EXPECT_FALSE(port->hasFocus());
    EXPECT_EQ(port->text(), "21");
}

TEST_F(InputHandlersTest, AutoStartChecksAndGreysAutoLoad)
{
    auto* autoLoad = child<QCheckBox>("chkAutoLoad");
    auto* autoStart = child<QCheckBox>("chkAutoStart");
    autoStart->setChecked(true);
    EXPECT_TRUE(autoLoad->isChecked());
    EXPECT_FALSE(autoLoad->isEnabled());
    autoStart->setChecked(false);
    EXPECT_TRUE(autoLoad->isChecked()); // stays checked
    EXPECT_TRUE(autoLoad->isEnabled());
    EXPECT_TRUE(hooks().flags().configChanged);
    EXPECT_TRUE(enabled(Command::SaveConfiguration));
}

TEST_F(InputHandlersTest, FileKindAndRenameEnableTheirFields)
{
    auto* rename = child<QCheckBox>("CheckBox2");
    rename->setChecked(true);
    EXPECT_TRUE(on("Edit7"));
    EXPECT_TRUE(on("SpeedButton5"));
    child<QRadioButton>("RadioButton1")->setChecked(true);
    for (const char* name : { "Edit6", "CheckBox2", "Edit7", "SpeedButton1", "SpeedButton5" })
        EXPECT_FALSE(on(name)) << name;
    child<QRadioButton>("RadioButton2")->setChecked(true);
    for (const char* name : { "Edit6", "CheckBox2", "Edit7", "SpeedButton1", "SpeedButton5" })
        EXPECT_TRUE(on(name)) << name;
    rename->setChecked(false);
    EXPECT_FALSE(on("Edit7"));
    EXPECT_FALSE(on("SpeedButton5"));
    child<QRadioButton>("RadioButton1")->setChecked(true);
    child<QRadioButton>("RadioButton2")->setChecked(true);
    EXPECT_FALSE(on("Edit7")); // only with Rename checked
    EXPECT_TRUE(on("Edit6"));

    child<QRadioButton>("RadioButton4")->setChecked(true);
    EXPECT_FALSE(on("DateTimePicker2"));
    EXPECT_TRUE(on("SpinEdit4"));
}

TEST_F(InputHandlersTest, SettingAFieldToTheValueItHoldsIsNoChange)
{
    child<QLineEdit>("Edit10")->setText(QStringLiteral("21"));
    child<QCheckBox>("CheckBox1")->setChecked(true);
    child<QRadioButton>("RadioButton2")->setChecked(true);
    EXPECT_FALSE(hooks().flags().configChanged);
    EXPECT_FALSE(enabled(Command::SaveConfiguration));
    child<QLineEdit>("Edit1")->setText(QStringLiteral("host"));
    EXPECT_TRUE(hooks().flags().configChanged);
}

TEST_F(InputHandlersTest, BrowseSetsTheLocalFolderOnlyWhenConfirmed)
{
    auto* folder = child<QLineEdit>("Edit5");
    folder->setText(QStringLiteral("/old"));
    picker.answer.reset();
    child<QToolButton>("SpeedButton2")->click();
    EXPECT_EQ(folder->text(), "/old");
    picker.answer = QStringLiteral("/srv/incoming");
    child<QToolButton>("SpeedButton2")->click();
    EXPECT_EQ(folder->text(), "/srv/incoming");
    EXPECT_EQ(picker.asked, 2);
}

TEST_F(InputHandlersTest, BrowseStartsAtTheFieldsFolderOrElseAtHome)
{
    auto* folder = child<QLineEdit>("Edit5");
    const QString existing = dir(QStringLiteral("incoming"));
    ASSERT_TRUE(QDir().mkpath(existing));
    const QString aFile = dir(QStringLiteral("dunmark.txt"));
    log().write(QStringLiteral("a line")); // the log is a file, not a folder
    for (const auto& [field, start] :
        { std::pair { existing, existing }, std::pair { QString(), QDir::homePath() },
            std::pair { dir(QStringLiteral("missing")), QDir::homePath() },
            std::pair { aFile, QDir::homePath() } }) {
        folder->setText(field);
        picker.startFolders.clear();
        child<QToolButton>("SpeedButton2")->click();
        ASSERT_EQ(picker.startFolders.size(), 1u);
        EXPECT_EQ(picker.startFolders.front(), start) << field.toStdString();
    }
}

TEST(NumberField, TextThatIsNoWholeNumberReadsAsTheLowerBoundAndValuesAreClamped)
{
    NumberField interval(1, 527040, 30);
    struct Case {
        const char* text;
        int value;
    };
    for (const Case c :
        { Case { "60", 60 }, Case { "abc", 1 }, Case { "", 1 }, Case { "0", 1 }, Case { "-5", 1 },
            Case { "+45", 45 }, Case { "1.5", 1 }, Case { "999999999999", 527040 }, Case { " 7 ", 7 } })
        EXPECT_EQ(interval.valueForText(QString::fromLatin1(c.text)), c.value) << c.text;
    interval.setValue(600000);
    EXPECT_EQ(interval.value(), 527040);
    EXPECT_EQ(interval.singleStep(), 30);
}

TEST(NumberField, TypingRefusesLettersAndLeavingPutsTheValueBackInRange)
{
    QWidget parent;
    auto* field = new NumberField(1, 527040, 30, &parent);
    auto* other = new QLineEdit(&parent);
    parent.show();
    parent.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&parent));
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "9x9y");
    EXPECT_EQ(field->text(), "99");
    field->selectAll();
    QTest::keyClicks(field, "0");
    other->setFocus();
    EXPECT_EQ(field->value(), 1);
    EXPECT_EQ(field->text(), "1");
}

} // namespace
} // namespace taskhaul::test
