#pragma once

#include <QString>

#include <array>
#include <span>

class QAction;
class QMenu;
class QMenuBar;
class QObject;
class QToolBar;

namespace taskhaul {

// Every command of the main window. The numbered names are the actions'
// objectNames; the enumerators say what the command does.
enum class Command {
    OpenConfiguration, // Action1
    SaveConfiguration, // Action2
    Connect, // Action3
    Disconnect, // Action4
    Transfer, // Action5
    StopTransfer, // Action6
    Exit, // Action7 (FTP menu "E&xit", Ctrl+Q: ends the program)
    ClearAll, // Action8
    DeleteLogFile, // Action9
    WildCardsFormat, // Action10
    StartScheduler, // Action11
    Help, // Action12
    ViewLogFile, // Action13
    StopScheduler, // Action14
    HomePage, // Action15
    CheckForUpdates, // Action16
    About, // Action17
    OpenFromTray, // Action18 (icon menu "&Open")
    ExitFromTray, // Action19 (icon menu "E&xit": ends the program)
    StartStopScheduler, // Action20
    ViewLocalFolder, // Action21
    ManualPage, // ActionManual (Help menu: the man page)
    EditUndo, // EditUndo1
    EditCut, // EditCut1
    EditCopy, // EditCopy1
    EditPaste, // EditPaste1
    EditDelete, // EditDelete1
    EditSelectAll, // EditSelectAll1
};

inline constexpr int kCommandCount = int(Command::EditSelectAll) + 1;

struct CommandInfo {
    Command command;
    const char* objectName;
    const char* category; // empty for the icon menu's own commands
    const char* caption;
    const char* hint; // "short|long"; a hint without "|" serves as both parts
    const char* shortcut; // portable key text ("Ctrl+O"); empty when none
};

// The command table, in the order of Command.
std::span<const CommandInfo> commandTable();
const CommandInfo& commandInfo(Command command);

// The short part of a hint (the tooltip) and the long part (the status tip).
QString shortHint(const QString& hint);
QString longHint(const QString& hint);

// Creates one QAction per command, owned by `parent`, with caption, tooltip,
// status tip, shortcut and objectName from the table.
std::array<QAction*, kCommandCount> createCommandActions(QObject* parent);

// One entry of a menu or toolbar layout: a command, or a separator, with an
// optional caption that replaces the command's own in that place only.
struct MenuEntry {
    bool separator;
    Command command;
    const char* caption; // nullptr: the command's caption
};

struct MenuLayout {
    const char* title;
    std::span<const MenuEntry> entries;
};

// The menu bar, the toolbar and the icon's pop-up menu as data.
std::span<const MenuLayout> menuBarLayout();
std::span<const MenuEntry> toolBarLayout();
std::span<const MenuEntry> trayMenuLayout();

// Build the menus and the toolbar from the layouts above. Entries with a caption
// of their own get a proxy action that forwards to the command's action and
// follows its enabled state.
void fillMenuBar(QMenuBar* bar, const std::array<QAction*, kCommandCount>& actions);
void fillToolBar(QToolBar* bar, const std::array<QAction*, kCommandCount>& actions);
void fillTrayMenu(QMenu* menu, const std::array<QAction*, kCommandCount>& actions);

} // namespace taskhaul
