#pragma once

#include "app/command_table.h"
#include "app/control_states.h"
#include "app/main_window_form.h"
#include "app/window_flags.h"
#include "app/window_roles.h"
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
    FilePicker* filePicker = nullptr;
    TrayArea* tray = nullptr;
    NotificationSender* notifier = nullptr; // the desktop's notification service when empty
    std::function<QDateTime()> clock; // local date and time; the system clock when empty
    QStringList arguments; // the command line after the program's name
    // The program's transfer engine and scheduler, built once by its main; the
    // window attaches itself to them. When empty the window builds its own (tests).
    TransferWiring* transfer = nullptr;
    SchedulerWiring* scheduler = nullptr;
};

// The main window (TForm1): the job's fields on six tabs, the commands with
// their menus and toolbar, the notification-area icon, the control states and
// the window's life from creation to exit. Behaviour that is not the window's
// own lives in the classes it calls. Each of them sees the window through its
// own role (window_roles.h), never through the window itself.
class MainWindow : public QMainWindow,
                   private ControlTarget,
                   private TransferWindowRole,
                   private SchedulerWindowRole,
                   private DesktopWindowRole {
    Q_OBJECT
public:
    explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The message boxes the window shows its errors with; the application's
    // error guard shows its own with them too.
    MessageBoxes& messageBoxes() override { return *boxes_; }

    // Commands: a disabled command does nothing, also when the program runs it.
    QAction* action(Command command) const { return actions_[std::size_t(command)]; }
    bool isCommandEnabled(Command command) const override;
    // Runs the command's handler when the command is enabled. Errors reach the caller.
    void runCommand(Command command) override;

    // Action18Execute, double-click on the icon, a second start of the program.
    void restoreMainWindow();
    // Log-off or shutdown: the next close ends the program without questions.
    void endSession();

    // ---- Test hooks: not for production code ------------------------------------
    // The window's insides and its role operations, for tests that drive or
    // inspect them directly.
    class TestHooks {
    public:
        explicit TestHooks(MainWindow& window)
            : window_(window)
        {
        }
        WindowFlags& flags() { return window_.flags_; }
        const MainWindowForm& form() const { return window_.form_; }
        TransferWiring& transferWiring() { return *window_.transferWiring_; }
        StatusLine& statusLineWidgets() { return *window_.statusLine_; }
        QMenu* trayMenu() const { return window_.trayMenu_; }
        // The handler a command runs; a test may put its own in place, keeping
        // the old one to call on.
        const std::function<void()>& commandHandler(Command command) const
        {
            return window_.handlers_[std::size_t(command)];
        }
        void setCommandHandler(Command command, std::function<void()> handler)
        {
            window_.handlers_[std::size_t(command)] = std::move(handler);
        }
        JobSettings jobSettings() const { return window_.jobSettings(); }
        void setSequenceStart(int value) { window_.setSequenceStart(value); }
        void setTrustedCertificate(const QString& fingerprint) { window_.setTrustedCertificate(fingerprint); }
        QString statusLine() const { return window_.statusLine(); }
        void setStatusLine(const QString& text) { window_.setStatusLine(text); }
        void writeLog(const QString& text) { window_.writeLog(text); }
        QString trayHint() const { return window_.trayHint(); }
        void controlsStandby() { window_.controlsStandby(); }
        void controlsSchedon() { window_.controlsSchedon(); }
        void controlsConnected() { window_.controlsConnected(); }
        void controlsBusy() { window_.controlsBusy(); }
        bool runGuarded(const std::function<void()>& body) { return window_.runGuarded(body); }
        void scheduledRunFinished(RunOutcome outcome) { window_.scheduledRunFinished(outcome); }
        void openConfigurationCommand() { window_.openConfigurationCommand(); }

    private:
        MainWindow& window_;
    };
    TestHooks testHooks() { return TestHooks(*this); }

signals:
    // The window closed for good: the program ends.
    void closedForGood();

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // ControlTarget
    ControlConditions controlConditions() const override;
    void setControlEnabled(const QString& objectName, bool enabled) override;
    void setScheduleGroupCaption(const QString& caption) override;

    // ---- The roles (window_roles.h) ----------------------------------------------

    // The values of the fields.
    JobSettings jobSettings() const override;
    // The sequence start field (a transfer advances or resets it).
    void setSequenceStart(int value) override;
    void setLoginFields(const QString& userName, const QString& password) override;
    void setTrustedCertificate(const QString& fingerprint) override;
    void setTrustedHostKey(const QString& fingerprint) override;
    // The daily time field (Reset timers).
    void setDailyTime(const QTime& time) override;
    bool startAtLogin() const override;
    void focusHostField() override;
    // The status bar's text. Hints of the commands and controls are shown beside
    // it and never replace it.
    QString statusLine() const override;
    void setStatusLine(const QString& text) override;
    // The status bar's parts: status line, hint, download progress.
    StatusLine& statusLineWidgets() override { return *statusLine_; }
    TrayArea& tray() override { return *tray_; }
    // The notification-area icon's hint.
    QString trayHint() const;
    void setTrayHint(const QString& hint) override;
    // The three control states.
    void controlsStandby() override;
    void controlsSchedon() override;
    void controlsConnected() override;
    void controlsBusy() override;
    // Stop Transfer is enabled by the transfer loops while they run.
    void setStopTransferEnabled(bool enabled) override;
    // The busy mouse cursor.
    void setBusyCursor(bool busy) override;
    // Appends one line to the activity log; throws when it cannot be written.
    void writeLog(const QString& text) override;
    void writeLogLines(const QStringList& texts) override;
    QDateTime now() const override;
    // Runs an entry point (timer tick, notification) under the error guard.
    bool runGuarded(const std::function<void()>& body) override;
    // A scheduled run has ended (status bar, icon, notifications).
    void scheduledRunFinished(RunOutcome outcome) override;

    // ---- Command handlers ---------------------------------------------------------

    // True while a connect or a run is in progress (the engine decides): the
    // commands that would change the job or start another run are refused then,
    // however they are reached (shortcut, D-Bus activation, a second start).
    bool jobBusy() const;

    // Handed on to the engine, the scheduler and the update check.
    void connectToSiteCommand(); // Action3Execute
    void disconnectFromSiteCommand(); // Action4Execute
    void transferCommand(); // Action5Execute
    void stopTransferCommand(); // Action6Execute
    void anonymousLoginClicked(); // SpeedButton3Click
    void startSchedulerCommand(); // Action11Execute
    void stopSchedulerCommand(); // Action14Execute
    void startStopSchedulerCommand(); // Action20Execute
    void resetTimersClicked(); // SpeedButton4Click
    void checkForUpdatesCommand(); // Action16Execute

    // The window's own.
    void openConfigurationCommand(); // Action1Execute
    void saveConfigurationCommand(); // Action2Execute
    void clearAllCommand(); // Action8Execute
    void exitCommand(); // Action7Execute: ends the program
    void exitFromTrayCommand(); // Action19Execute: ends the program
    void hideMainWindow();
    // RadioButton3Click / RadioButton4Click: enables the field of the chosen kind.
    void scheduleKindClicked();

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
    void markChanged();
    void fileKindAllClicked();
    void fileKindOneClicked();
    void renameClicked();
    void autoStartClicked();
    void browseLocalFolder();
    // The protocol choice: the port that goes with it and the controls it uses.
    void protocolChanged();
    void browseKeyFile();
    // A trust given or taken back goes to the stored job at once.
    void keepTrust();
    // The trusted fingerprint shown, and its Forget button, as the job is now.
    void trustChanged();
    void forgetTrustClicked(); // ForgetTrust
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
    std::unique_ptr<FilePicker> ownFilePicker_;
    ActivityLog* log_ = nullptr;
    SettingsStore* store_ = nullptr;
    MessageBoxes* boxes_ = nullptr;
    Shell* shell_ = nullptr;
    FolderPicker* folderPicker_ = nullptr;
    FilePicker* filePicker_ = nullptr;
    TrayArea* tray_ = nullptr;
    NotificationSender* notifier_ = nullptr;
    std::function<QDateTime()> clock_;
    QStringList arguments_;
    std::unique_ptr<LogCommands> logCommands_;
    std::unique_ptr<AuxiliaryWindows> auxiliaryWindows_;
    std::unique_ptr<TransferWiring> ownTransfer_;
    std::unique_ptr<SchedulerWiring> ownScheduler_;
    TransferWiring* transferWiring_ = nullptr;
    SchedulerWiring* schedulerWiring_ = nullptr;
    std::unique_ptr<UpdateWiring> updateWiring_;
    // Declared last, so destroyed first: it hooks the FTP client and the scheduler.
    std::unique_ptr<DesktopIntegration> desktop_;

    // The state last applied: a change of the protocol applies its part anew.
    ControlState controlState_ = ControlState::Standby;
    bool busyCursor_ = false;
    bool sessionEnding_ = false;
    bool activatedOnce_ = false;
    bool closedForGood_ = false;
};

} // namespace taskhaul
