#include "app/command_table.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>

namespace taskhaul {

namespace {

using C = Command;

constexpr std::array<CommandInfo, kCommandCount> kCommands { {
    { C::OpenConfiguration, "Action1", "FTP", "&Open Configuration",
        "Open configuration|Load the saved information", "Ctrl+O" },
    { C::SaveConfiguration, "Action2", "FTP", "&Save Configuration",
        "Save configuration|Save the current information", "Ctrl+S" },
    { C::Connect, "Action3", "FTP", "&Connect", "Connect|Establish an FTP connection", "Ctrl+E" },
    { C::Disconnect, "Action4", "FTP", "&Disconnect", "Disconnect|Close the FTP connection", "Ctrl+D" },
    { C::Transfer, "Action5", "FTP", "&Transfer", "Transfer|Transfer the specified file(s)", "Ctrl+T" },
    { C::StopTransfer, "Action6", "FTP", "Sto&p Transfer", "Stop transfer|Stop file transfer", "" },
    { C::Exit, "Action7", "FTP", "E&xit", "Exit|Terminate the application", "Ctrl+Q" },
    { C::ClearAll, "Action8", "Edit", "Cle&ar All", "Clear All|Clear all information", "Ctrl+W" },
    { C::DeleteLogFile, "Action9", "Edit", "Dele&te Log File", "Delete log file|Delete the existing log file",
        "" },
    { C::WildCardsFormat, "Action10", "View", "&Wild Cards Format...",
        "Wild cards format|Display the wild card guidelines for file name", "" },
    { C::StartScheduler, "Action11", "Scheduler", "&Start", "Start|Start the Scheduler", "" },
    { C::Help, "Action12", "Help", "&Help...", "Help|Displays the Help File", "" },
    { C::ViewLogFile, "Action13", "View", "&Log File...", "Log file|View the log file", "" },
    { C::StopScheduler, "Action14", "Scheduler", "S&top", "Stop|Stop the Scheduler", "" },
    { C::HomePage, "Action15", "Help", "&Velmora Home Page", "Velmora home page|Displays Velmora's Web site",
        "" },
    { C::CheckForUpdates, "Action16", "Help", "&Check for Updates",
        "Check for updates|Checks if a new version is available", "" },
    { C::About, "Action17", "Help", "&About...", "About|About Velmora Taskhaul", "" },
    { C::OpenFromTray, "Action18", "", "Action18", "", "" },
    { C::ExitFromTray, "Action19", "", "Action19", "", "" },
    { C::StartStopScheduler, "Action20", "Scheduler", "Start/Stop", "Start/Stop the scheduler", "" },
    { C::ViewLocalFolder, "Action21", "View", "Local &Folder...", "Local folder|View the local folder", "" },
    { C::ManualPage, "ActionManual", "Help", "&Manual Page (man taskhaul)",
        "Manual page|Displays the manual page, which man taskhaul shows in a terminal", "" },
    { C::EditUndo, "EditUndo1", "Edit", "&Undo", "Undo|Reverts the last action", "Ctrl+Z" },
    { C::EditCut, "EditCut1", "Edit", "Cu&t", "Cut|Cuts the selection and puts it on the Clipboard",
        "Ctrl+X" },
    { C::EditCopy, "EditCopy1", "Edit", "&Copy", "Copy|Copies the selection and puts it on the Clipboard",
        "Ctrl+C" },
    { C::EditPaste, "EditPaste1", "Edit", "&Paste", "Paste|Inserts Clipboard contents", "Ctrl+V" },
    { C::EditDelete, "EditDelete1", "Edit", "&Delete", "Delete|Erases the selection", "Del" },
    { C::EditSelectAll, "EditSelectAll1", "Edit", "Select &All", "Select All|Selects the entire document",
        "Ctrl+A" },
} };

constexpr MenuEntry cmd(Command c, const char* caption = nullptr)
{
    return { false, c, caption };
}
constexpr MenuEntry sep()
{
    return { true, C::Exit, nullptr };
}

constexpr std::array kFtpMenu { cmd(C::OpenConfiguration), cmd(C::SaveConfiguration), sep(), cmd(C::Connect),
    cmd(C::Disconnect), sep(), cmd(C::Transfer), cmd(C::StopTransfer), sep(), cmd(C::Exit) };
constexpr std::array kEditMenu { cmd(C::EditUndo), sep(), cmd(C::EditCut), cmd(C::EditCopy),
    cmd(C::EditPaste), cmd(C::EditDelete), cmd(C::EditSelectAll), sep(), cmd(C::ClearAll, "C&lear All"),
    sep(), cmd(C::DeleteLogFile, "D&elete Log File") };
constexpr std::array kViewMenu { cmd(C::WildCardsFormat), sep(), cmd(C::ViewLocalFolder),
    cmd(C::ViewLogFile) };
constexpr std::array kSchedulerMenu { cmd(C::StartScheduler), cmd(C::StopScheduler) };
constexpr std::array kHelpMenu { cmd(C::Help), cmd(C::ManualPage), sep(), cmd(C::HomePage),
    cmd(C::CheckForUpdates), sep(), cmd(C::About) };

constexpr std::array<MenuLayout, 5> kMenuBar { {
    { "&FTP", kFtpMenu },
    { "&Edit", kEditMenu },
    { "&View", kViewMenu },
    { "&Scheduler", kSchedulerMenu },
    { "&Help", kHelpMenu },
} };

constexpr std::array kToolBar { cmd(C::OpenConfiguration, "&Open"), cmd(C::SaveConfiguration), sep(),
    cmd(C::Connect), cmd(C::Disconnect), sep(), cmd(C::Transfer), cmd(C::StopTransfer), sep(),
    cmd(C::StartStopScheduler, "St&art/Stop"), sep(), cmd(C::ViewLocalFolder), cmd(C::ViewLogFile) };

// The icon menu's "&Open" and "E&xit" show captions of their own; they are the
// items Open1 and Exit3 and run Action18 and Action19.
constexpr std::array kTrayMenu { cmd(C::StartScheduler), cmd(C::StopScheduler), sep(),
    cmd(C::ViewLocalFolder), cmd(C::ViewLogFile), sep(), cmd(C::Help), sep(), cmd(C::HomePage),
    cmd(C::CheckForUpdates), sep(), cmd(C::OpenFromTray, "&Open"), cmd(C::ExitFromTray, "E&xit") };

// A stand-in that shows another caption for a command in one place and
// otherwise behaves as the command: same hints, same picture, same enabled state.
QAction* proxyAction(QAction* target, const QString& caption, QObject* parent)
{
    auto* proxy = new QAction(caption, parent);
    auto sync = [proxy, target] {
        proxy->setEnabled(target->isEnabled());
        proxy->setToolTip(target->toolTip());
        proxy->setStatusTip(target->statusTip());
        proxy->setIcon(target->icon());
    };
    sync();
    QObject::connect(target, &QAction::changed, proxy, sync);
    QObject::connect(proxy, &QAction::triggered, target, [target] { target->trigger(); });
    return proxy;
}

QAction* entryAction(
    const MenuEntry& entry, const std::array<QAction*, kCommandCount>& actions, QObject* parent)
{
    QAction* action = actions[std::size_t(entry.command)];
    if (!entry.caption)
        return action;
    return proxyAction(action, QString::fromUtf8(entry.caption), parent);
}

void fill(
    QWidget* widget, std::span<const MenuEntry> entries, const std::array<QAction*, kCommandCount>& actions)
{
    for (const auto& entry : entries) {
        if (entry.separator) {
            auto* separator = new QAction(widget);
            separator->setSeparator(true);
            widget->addAction(separator);
        } else {
            widget->addAction(entryAction(entry, actions, widget));
        }
    }
}

} // namespace

std::span<const CommandInfo> commandTable()
{
    return kCommands;
}

const CommandInfo& commandInfo(Command command)
{
    return kCommands[std::size_t(command)];
}

QString shortHint(const QString& hint)
{
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QString longHint(const QString& hint)
{
    const auto bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

std::array<QAction*, kCommandCount> createCommandActions(QObject* parent)
{
    std::array<QAction*, kCommandCount> actions {};
    for (const auto& info : kCommands) {
        auto* action = new QAction(QString::fromUtf8(info.caption), parent);
        action->setObjectName(QString::fromUtf8(info.objectName));
        const QString hint = QString::fromUtf8(info.hint);
        if (!hint.isEmpty()) {
            action->setToolTip(shortHint(hint));
            action->setStatusTip(longHint(hint));
        }
        if (*info.shortcut)
            action->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut), QKeySequence::PortableText));
        actions[std::size_t(info.command)] = action;
    }
    return actions;
}

std::span<const MenuLayout> menuBarLayout()
{
    return kMenuBar;
}
std::span<const MenuEntry> toolBarLayout()
{
    return kToolBar;
}
std::span<const MenuEntry> trayMenuLayout()
{
    return kTrayMenu;
}

void fillMenuBar(QMenuBar* bar, const std::array<QAction*, kCommandCount>& actions)
{
    for (const auto& layout : kMenuBar) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(layout.title));
        fill(menu, layout.entries, actions);
    }
}

void fillToolBar(QToolBar* bar, const std::array<QAction*, kCommandCount>& actions)
{
    fill(bar, kToolBar, actions);
}

void fillTrayMenu(QMenu* menu, const std::array<QAction*, kCommandCount>& actions)
{
    fill(menu, kTrayMenu, actions);
    // "&Open" is the default item, shown in bold.
    QAction* open = menu->actions().at(menu->actions().size() - 2);
    open->setObjectName(QStringLiteral("Open1"));
    QFont bold = open->font();
    bold.setBold(true);
    open->setFont(bold);
    menu->setDefaultAction(open);
    menu->actions().constLast()->setObjectName(QStringLiteral("Exit3"));
}

} // namespace taskhaul
