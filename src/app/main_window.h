#pragma once

#include "app/command_table.h"
#include "app/control_states.h"
#include "app/main_window_form.h"
#include "app/window_flags.h"
#include "app/window_services.h"
#include "settings/job_settings.h"

#include <QDateTime>
#include <QMainWindow>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QMenu;

namespace taskhaul {

class ActivityLog;
class AuxiliaryWindows;
class Scheduler;
enum class RunOutcome;
class DesktopIntegration;
class NotificationSender;
class LogCommands;
class SchedulerWiring;
class StatusLine;
class TransferWiring;
class UpdateWiring;
class MessageBoxes;
class SettingsStore;
class Shell;

// What the main window works with. The log and the store are required; every
// other service left empty is replaced by the window's own Qt implementation.
struct MainWindowServices {
    ActivityLog* log = nullptr;
    SettingsStore* store = nullptr;
    MessageBoxes* messageBoxes = nullptr;
    Shell* shell = nullptr;
    FolderPicker* folderPicker = nullptr;
    TrayArea* tray = nullptr;
    NotificationSender* notifier = nullptr; // the desktop's notification service when empty
    std::function<QDateTime()> clock; // local date and time; the system clock when empty
    QStringList arguments; // the command line after the program's name
};

// The main window (TForm1): the job's fields on six tabs, the commands with
// their menus and toolbar, the notification-area icon, the control states and
// the window's life from creation to exit. Behaviour that is not the window's
// own lives in the classes it calls; the engine, the scheduler and the update
// check reach the window through the public operations below.
class MainWindow : public QMainWindow, private ControlTarget {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // ---- For the engine, the scheduler and the update check -----------------

    // The values of the fields.
    JobSettings jobSettings() const;
    // The sequence start field (a transfer advances or resets it).
    void setSequenceStart(int value);
    // The daily time field (Reset timers).
    void setDailyTime(const QTime& time);
    // The status bar's text. Hints of the commands and controls are shown beside
    // it and never replace it.
    QString statusLine() const;
    void setStatusLine(const QString& text);
    // The status bar's parts: status line, hint, download progress.
    StatusLine& statusLineWidgets() { return *statusLine_; }
    // The notification-area icon's hint.
    QString trayHint() const;
    void setTrayHint(const QString& hint);
    // The three control states.
    void controlsStandby();
    void controlsSchedon();
    void controlsConnected();
    // Stop Transfer is enabled by the transfer loops while they run.
    void setStopTransferEnabled(bool enabled);
    // The busy mouse cursor.
    void setBusyCursor(bool busy);

    WindowFlags& flags() { return flags_; }
    const WindowFlags& flags() const { return flags_; }

    ActivityLog& activityLog() { return *log_; }
    // Appends one line to the activity log; throws when it cannot be written.
    void writeLog(const QString& text);
    MessageBoxes& messageBoxes() { return *boxes_; }
    Shell& shell() { return *shell_; }
    QDateTime now() const;
    // The window's FTP client (FtpClient1) and the transfer engine that uses it.
    TransferWiring& transferWiring() { return *transferWiring_; }
    // The scheduler (Timer1, Timer2).
    Scheduler& scheduler();
    // A scheduled run has ended (status bar, icon, notifications).
    void scheduledRunFinished(RunOutcome outcome);

    // Commands: a disabled command does nothing, also when the program runs it.
    QAction* action(Command command) const { return actions_[std::size_t(command)]; }
    bool isCommandEnabled(Command command) const;
    // Runs the command's handler when the command is enabled. Errors reach the caller.
    void runCommand(Command command);
    // The handler a command runs; a wiring may put its own in place, keeping the
    // old one to call on.
    const std::function<void()>& commandHandler(Command command) const
    {
        return handlers_[std::size_t(command)];
    }
    void setCommandHandler(Command command, std::function<void()> handler)
    {
        handlers_[std::size_t(command)] = std::move(handler);
    }
    // Runs an entry point (timer tick, notification) under the error guard.
    bool runGuarded(const std::function<void()>& body);

    const MainWindowForm& form() const { return form_; }
    AuxiliaryWindows& auxiliaryWindows() { return *auxiliaryWindows_; }
    QMenu* trayMenu() const { return trayMenu_; }
    TrayArea& tray() { return *tray_; }

    // ---- Handlers owned by the engine, the scheduler and the update check ----
    // Each is a placeholder that does nothing until its owner wires it.

    void connectToSiteCommand(); // Action3Execute   (engine)
    void disconnectFromSiteCommand(); // Action4Execute (engine)
    void transferCommand(); // Action5Execute   (engine)
    void stopTransferCommand(); // Action6Execute   (engine)
    void anonymousLoginClicked(); // SpeedButton3Click (engine)
    void ftpDisconnected(); // FtpClient1Disconnected (engine)
    void startSchedulerCommand(); // Action11Execute  (scheduler)
    void stopSchedulerCommand(); // Action14Execute  (scheduler)
    void startStopSchedulerCommand(); // Action20Execute (scheduler)
    void resetTimersClicked(); // SpeedButton4Click (scheduler)
    void checkForUpdatesCommand(); // Action16Execute  (update)

    // ---- The window's own handlers --------------------------------------------

    void openConfigurationCommand(); // Action1Execute
    void saveConfigurationCommand(); // Action2Execute
    void clearAllCommand(); // Action8Execute
    void exitCommand(); // Action7Execute: to the notification area
    void exitFromTrayCommand(); // Action19Execute: ends the program
    void restoreMainWindow(); // Action18Execute, double-click on the icon
    void hideMainWindow();
    // RadioButton3Click / RadioButton4Click: enables the field of the chosen kind.
    void scheduleKindClicked();

    // Log-off or shutdown: the next close ends the program without questions.
    void endSession();

signals:
    // The window closed for good: the program ends.
    void closedForGood();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // ControlTarget
    ControlConditions controlConditions() const override;
    void setControlEnabled(const QString& objectName, bool enabled) override;
    void setScheduleGroupCaption(const QString& caption) override;

    void createServices(MainWindowServices& services);
    void createCommands();
    void createTray();
    void connectFields();
    void fitClientHeight();

    void formCreate();
    void formActivate();
    void formPaint();
    bool formClose(); // whether the window may close

    void openConfig(bool raiseErrors);
    void focusHostOnFirstPage();
    void markChanged();
    void fileKindAllClicked();
    void fileKindOneClicked();
    void renameClicked();
    void autoStartClicked();
    void browseLocalFolder();
    void scheduleKindFields();
    void validateTemplate(const QString& nameTemplate);
    void wildCardsCommand(); // Action10Execute
    void aboutCommand(); // Action17Execute

    MainWindowForm form_;
    WindowFlags flags_;
    std::array<QAction*, kCommandCount> actions_ {};
    std::array<std::function<void()>, kCommandCount> handlers_ {};
    QMenu* trayMenu_ = nullptr;
    std::unique_ptr<StatusLine> statusLine_;

    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<Shell> ownShell_;
    std::unique_ptr<FolderPicker> ownFolderPicker_;
    ActivityLog* log_ = nullptr;
    SettingsStore* store_ = nullptr;
    MessageBoxes* boxes_ = nullptr;
    Shell* shell_ = nullptr;
    FolderPicker* folderPicker_ = nullptr;
    TrayArea* tray_ = nullptr;
    NotificationSender* notifier_ = nullptr;
    std::function<QDateTime()> clock_;
    QStringList arguments_;
    std::unique_ptr<LogCommands> logCommands_;
    std::unique_ptr<AuxiliaryWindows> auxiliaryWindows_;
    std::unique_ptr<TransferWiring> transferWiring_;
    std::unique_ptr<SchedulerWiring> schedulerWiring_;
    std::unique_ptr<UpdateWiring> updateWiring_;
    // Last: it hooks the FTP client and the scheduler, so it goes first.
    std::unique_ptr<DesktopIntegration> desktop_;

    bool busyCursor_ = false;
    bool sessionEnding_ = false;
    bool activatedOnce_ = false;
    bool closedForGood_ = false;
};

} // namespace taskhaul
