#include "app/main_window.h"
#include "settings/settings_store.h"

#include "app/auxiliary_windows.h"
#include "app/desktop_integration.h"
#include "app/edit_commands.h"
#include "app/event_guard.h"
#include "app/field_events.h"
#include "app/input_rules.h"
#include "app/program_icon.h"
#include "app/qt_services.h"
#include "app/scheduler_wiring.h"
#include "app/status_line.h"
#include "app/transfer_wiring.h"
#include "app/update_wiring.h"
#include "log/activity_log.h"
#include "log/desktop_shell.h"
#include "log/log_commands.h"
#include "log/user_messages.h"
#include "transfer/asking_connect.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace taskhaul {

namespace {

const QString kCaption = QStringLiteral("Velmora Taskhaul - Oskra Edition");
const QString kHintOff = QStringLiteral("Taskhaul - Scheduler is OFF");

} // namespace

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TForm1"));
    setWindowTitle(kCaption);
    setWindowIcon(programIcon());
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    createServices(services);

    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel2"));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(4, 4, 4, 4);
    form_.build(panel);
    panelLayout->addWidget(form_.pages);
    setCentralWidget(panel);

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setSizeGripEnabled(false);
    statusLine_ = std::make_unique<StatusLine>(statusBar());

    createCommands();
    createTray();
    connectFields();
    tray_->setHint(kHintOff);
    fitClientHeight();
    // Each part gets the window in its own role only.
    TransferWindowRole& transferRole = *this;
    SchedulerWindowRole& schedulerRole = *this;
    DesktopWindowRole& desktopRole = *this;
    if (!transferWiring_) {
        ownTransfer_ = std::make_unique<TransferWiring>();
        transferWiring_ = ownTransfer_.get();
    }
    if (!schedulerWiring_) {
        ownScheduler_ = std::make_unique<SchedulerWiring>(*transferWiring_, log_->timeFormat());
        schedulerWiring_ = ownScheduler_.get();
    }
    transferWiring_->attach(transferRole);
    schedulerWiring_->attach(schedulerRole);
    updateWiring_ = std::make_unique<UpdateWiring>(*boxes_);
    desktop_ = std::make_unique<DesktopIntegration>(
        desktopRole, *transferWiring_, schedulerWiring_->scheduler(), notifier_);
    // The autostart entry follows the box at once.
    connect(form_.startAtLogin, &QCheckBox::toggled, desktop_.get(),
        [this] { runGuarded([this] { desktop_->syncAutostart(); }); });

    runGuarded([this] { formCreate(); });
    // The other windows exist from the start to the end of the run.
    auxiliaryWindows_ = std::make_unique<AuxiliaryWindows>(*shell_, this);
}

MainWindow::~MainWindow()
{
    // The program's engine and scheduler outlive the window: they report to it
    // no more.
    schedulerWiring_->detach();
    transferWiring_->detach();
}

void MainWindow::createServices(MainWindowServices& services)
{
    Q_ASSERT(services.log && services.store);
    log_ = services.log;
    store_ = services.store;
    if (!services.messageBoxes) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
        services.messageBoxes = ownBoxes_.get();
    }
    if (!services.shell) {
        ownShell_ = std::make_unique<DesktopShell>();
        services.shell = ownShell_.get();
    }
    if (!services.folderPicker) {
        ownFolderPicker_ = std::make_unique<QtFolderPicker>(this);
        services.folderPicker = ownFolderPicker_.get();
    }
    if (!services.filePicker) {
        ownFilePicker_ = std::make_unique<QtFilePicker>(this);
        services.filePicker = ownFilePicker_.get();
    }
    boxes_ = services.messageBoxes;
    shell_ = services.shell;
    folderPicker_ = services.folderPicker;
    filePicker_ = services.filePicker;
    tray_ = services.tray;
    notifier_ = services.notifier;
    clock_ = services.clock ? std::move(services.clock) : [] { return QDateTime::currentDateTime(); };
    arguments_ = std::move(services.arguments);
    transferWiring_ = services.transfer;
    schedulerWiring_ = services.scheduler;
    logCommands_ = std::make_unique<LogCommands>(*boxes_, *shell_, log_->path());
}

void MainWindow::createCommands()
{
    actions_ = createCommandActions(this);
    for (QAction* action : actions_)
        addAction(action); // shortcuts work while the window has the focus
    // The command keys win over the fields' own bindings. The edit commands are
    // left out: the fields' bindings for those keys are those very commands.
    std::vector<QAction*> keyed;
    for (const auto& info : commandTable())
        if (int(info.command) < int(Command::EditUndo))
            keyed.push_back(action(info.command));
    new CommandKeyPriority(this, std::move(keyed));

    handlers_[std::size_t(Command::OpenConfiguration)] = [this] { openConfigurationCommand(); };
    handlers_[std::size_t(Command::SaveConfiguration)] = [this] { saveConfigurationCommand(); };
    handlers_[std::size_t(Command::Connect)] = [this] { connectToSiteCommand(); };
    handlers_[std::size_t(Command::Disconnect)] = [this] { disconnectFromSiteCommand(); };
    handlers_[std::size_t(Command::Transfer)] = [this] { transferCommand(); };
    handlers_[std::size_t(Command::StopTransfer)] = [this] { stopTransferCommand(); };
    handlers_[std::size_t(Command::Exit)] = [this] { exitCommand(); };
    handlers_[std::size_t(Command::ClearAll)] = [this] { clearAllCommand(); };
    handlers_[std::size_t(Command::DeleteLogFile)] = [this] { logCommands_->deleteLogFile(); };
    handlers_[std::size_t(Command::WildCardsFormat)] = [this] { wildCardsCommand(); };
    handlers_[std::size_t(Command::StartScheduler)] = [this] { startSchedulerCommand(); };
    handlers_[std::size_t(Command::Help)] = [this] { logCommands_->openHelp(); };
    handlers_[std::size_t(Command::ViewLogFile)] = [this] { logCommands_->openLogFile(); };
    handlers_[std::size_t(Command::StopScheduler)] = [this] { stopSchedulerCommand(); };
    handlers_[std::size_t(Command::HomePage)] = [this] { logCommands_->openHomePage(); };
    handlers_[std::size_t(Command::ManualPage)] = [this] { logCommands_->openManualPage(); };
    handlers_[std::size_t(Command::CheckForUpdates)] = [this] { checkForUpdatesCommand(); };
    handlers_[std::size_t(Command::About)] = [this] { aboutCommand(); };
    handlers_[std::size_t(Command::OpenFromTray)] = [this] { restoreMainWindow(); };
    handlers_[std::size_t(Command::ExitFromTray)] = [this] { exitFromTrayCommand(); };
    handlers_[std::size_t(Command::StartStopScheduler)] = [this] { startStopSchedulerCommand(); };
    handlers_[std::size_t(Command::ViewLocalFolder)]
        = [this] { logCommands_->openLocalFolder(form_.localFolder->text()); };
    for (Command edit : { Command::EditUndo, Command::EditCut, Command::EditCopy, Command::EditPaste,
             Command::EditDelete, Command::EditSelectAll })
        handlers_[std::size_t(edit)] = [edit] { runEditCommand(edit); };

    for (const auto& info : commandTable()) {
        const Command command = info.command;
        connect(action(command), &QAction::triggered, this, [this, command] {
            // The hint spoke of the command's control, which has done its part.
            statusLine_->setHint(QString());
            runGuarded([this, command] { runCommand(command); });
        });
    }

    menuBar()->setObjectName(QStringLiteral("ActionMainMenuBar1"));
    fillMenuBar(menuBar(), actions_);
    auto* toolBar = addToolBar(QStringLiteral("Toolbar"));
    toolBar->setObjectName(QStringLiteral("ActionToolBar1"));
    toolBar->setMovable(false);
    toolBar->setFloatable(false);
    toolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    setCommandIcons(actions_, style());
    fillToolBar(toolBar, actions_);
    // A menu that closes takes the hint of its item along.
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToHide, this, [this] { statusLine_->setHint(QString()); });

    // The edit commands follow the focused text field.
    connect(qApp, &QApplication::focusChanged, this, [this] { updateEditCommands(actions_); });
    updateEditCommands(actions_);
}

void MainWindow::createTray()
{
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("PopupActionBar1"));
    fillTrayMenu(trayMenu_, actions_);
    connect(trayMenu_, &QMenu::aboutToHide, this, [this] { statusLine_->setHint(QString()); });
    if (!tray_) {
        auto* icon = new QtTrayArea(programIcon(), trayMenu_, this);
        connect(icon, &QtTrayArea::restoreRequested, this,
            [this] { runGuarded([this] { restoreMainWindow(); }); });
        tray_ = icon;
    }
}

void MainWindow::connectFields()
{
    auto guarded = [this](auto handler) {
        return [this, handler](auto&&...) { runGuarded([this, handler] { (this->*handler)(); }); };
    };
    // Edit1Change: every text, number, time and list field marks the job changed.
    for (QLineEdit* edit : { form_.host, form_.port, form_.remoteFolder, form_.userName, form_.password,
             form_.localFolder, form_.fileName, form_.renameTo, form_.proxyHost, form_.proxyPort,
             form_.proxyUserName, form_.proxyPassword, form_.keyFile, form_.keyPassphrase })
        connect(edit, &QLineEdit::textChanged, this, guarded(&MainWindow::markChanged));
    connect(form_.interval, &QSpinBox::valueChanged, this, guarded(&MainWindow::markChanged));
    connect(form_.sequenceStart, &QSpinBox::valueChanged, this, guarded(&MainWindow::markChanged));
    connect(form_.dailyTime, &QTimeEdit::timeChanged, this, guarded(&MainWindow::markChanged));
    connect(form_.proxyType, &QComboBox::currentIndexChanged, this, guarded(&MainWindow::markChanged));

    // Click handlers of the choices and check boxes.
    auto whenChosen = [this](QRadioButton* button, void (MainWindow::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool chosen) {
            if (chosen)
                runGuarded([this, handler] { (this->*handler)(); });
        });
    };
    whenChosen(form_.allFiles, &MainWindow::fileKindAllClicked);
    whenChosen(form_.oneFile, &MainWindow::fileKindOneClicked);
    whenChosen(form_.dailyTimeKind, &MainWindow::scheduleKindClicked);
    whenChosen(form_.intervalKind, &MainWindow::scheduleKindClicked);
    connect(form_.rename, &QCheckBox::toggled, this, guarded(&MainWindow::renameClicked));
    connect(form_.autoStart, &QCheckBox::toggled, this, guarded(&MainWindow::autoStartClicked));
    for (QCheckBox* box :
        { form_.autoLoad, form_.minimized, form_.overwrite, form_.passive, form_.resetSequence,
            form_.startAtLogin, form_.notifySuccess, form_.onlyNewer, form_.useKeyring })
        connect(box, &QCheckBox::toggled, this, guarded(&MainWindow::markChanged));
    for (QSpinBox* box : { form_.settleSeconds, form_.retries, form_.retryDelay, form_.connections })
        connect(box, &QSpinBox::valueChanged, this, guarded(&MainWindow::markChanged));
    connect(form_.security, &QComboBox::currentIndexChanged, this, guarded(&MainWindow::markChanged));
    // A trusted certificate belongs to one site and one way of connecting to
    // it: changing either forgets it (the way to trust a new certificate).
    // Through a proxy the certificate is the proxy's.
    const auto forgetCertificate = [this] {
        form_.trustedCertificate.clear();
        trustChanged();
    };
    for (QLineEdit* edit : { form_.host, form_.port, form_.proxyHost })
        connect(edit, &QLineEdit::textChanged, this, forgetCertificate);
    for (QComboBox* box : { form_.security, form_.proxyType })
        connect(box, &QComboBox::currentIndexChanged, this, forgetCertificate);
    // So does a trusted host key, with the host and the protocol.
    const auto forgetHostKey = [this] {
        form_.trustedHostKey.clear();
        trustChanged();
    };
    connect(form_.host, &QLineEdit::textChanged, this, forgetHostKey);
    connect(form_.protocol, &QComboBox::currentIndexChanged, this, forgetHostKey);
    connect(form_.protocol, &QComboBox::currentIndexChanged, this, guarded(&MainWindow::protocolChanged));

    // Port fields take digits only; three fields get a default when left empty.
    auto* digits = new DigitKeyFilter(this);
    form_.port->installEventFilter(digits);
    form_.proxyPort->installEventFilter(digits);
    new EmptyOnExit(form_.remoteFolder, QStringLiteral("/"));
    new EmptyOnExit(form_.port, QStringLiteral("21"));
    new EmptyOnExit(form_.proxyPort, QStringLiteral("0"));

    // Buttons.
    connect(form_.browseFolder, &QToolButton::clicked, this, guarded(&MainWindow::browseLocalFolder));
    connect(form_.browseKeyFile, &QToolButton::clicked, this, guarded(&MainWindow::browseKeyFile));
    connect(form_.anonymousLogin, &QToolButton::clicked, this, guarded(&MainWindow::anonymousLoginClicked));
    connect(form_.forgetTrust, &QToolButton::clicked, this, guarded(&MainWindow::forgetTrustClicked));
    connect(form_.resetTimers, &QToolButton::clicked, this, guarded(&MainWindow::resetTimersClicked));
    connect(form_.validateFileName, &QToolButton::clicked, this,
        [this] { runGuarded([this] { validateTemplate(form_.fileName->text()); }); });
    connect(form_.validateRenameTo, &QToolButton::clicked, this,
        [this] { runGuarded([this] { validateTemplate(form_.renameTo->text()); }); });
}

void MainWindow::fitClientHeight()
{
    // The window is as tall as its toolbar area, page panel and status bar, and
    // its size is fixed.
    adjustSize();
    setFixedSize(sizeHint());
    // Centred on the screen when first shown.
    if (const QScreen* where = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(where->availableGeometry().center());
        move(frame.topLeft());
    }
}

// ---- The roles ------------------------------------------------------------------

JobSettings MainWindow::jobSettings() const
{
    return form_.snapshot();
}

void MainWindow::setSequenceStart(int value)
{
    // A run moved the number on. While the window shows the stored job as it
    // was loaded or saved, the number is kept in it at once, as --run-once
    // keeps it, so that a restart never fetches under a number used before.
    // Edits not yet saved wait for Save, the number with them.
    const bool unsaved = flags_.configChanged;
    form_.sequenceStart->setValue(value);
    if (unsaved)
        return;
    try {
        store_->saveSequence(value);
    } catch (const SettingsError& error) {
        writeLog(QStringLiteral("WARNING: The sequence number cannot be saved: ") + error.message());
        return;
    }
    flags_.configChanged = false;
    action(Command::SaveConfiguration)->setEnabled(false);
}

void MainWindow::setLoginFields(const QString& userName, const QString& password)
{
    form_.userName->setText(userName);
    form_.password->setText(password);
}

void MainWindow::setTrustedCertificate(const QString& fingerprint)
{
    form_.trustedCertificate = fingerprint;
    keepTrust();
}

void MainWindow::setTrustedHostKey(const QString& fingerprint)
{
    form_.trustedHostKey = fingerprint;
    keepTrust();
}

bool MainWindow::startAtLogin() const
{
    return form_.startAtLogin->isChecked();
}

void MainWindow::focusHostField()
{
    if (form_.pages->currentIndex() == 0 && form_.host->isEnabled())
        form_.host->setFocus();
}

void MainWindow::setDailyTime(const QTime& time)
{
    const QTime wholeSeconds(time.hour(), time.minute(), time.second());
    if (form_.dailyTime->time() != wholeSeconds)
        form_.dailyTime->setTime(wholeSeconds);
}

QString MainWindow::statusLine() const
{
    return statusLine_->text();
}

void MainWindow::setStatusLine(const QString& text)
{
    statusLine_->setText(text);
}

QString MainWindow::trayHint() const
{
    return tray_->hint();
}

void MainWindow::setTrayHint(const QString& hint)
{
    tray_->setHint(hint);
}

void MainWindow::controlsStandby()
{
    controlState_ = ControlState::Standby;
    applyControlState(controlState_, *this);
}

void MainWindow::controlsSchedon()
{
    controlState_ = ControlState::SchedulerOn;
    applyControlState(controlState_, *this);
}

void MainWindow::controlsConnected()
{
    controlState_ = ControlState::Connected;
    applyControlState(controlState_, *this);
}

void MainWindow::controlsBusy()
{
    controlState_ = ControlState::Busy;
    applyControlState(controlState_, *this);
}

void MainWindow::setStopTransferEnabled(bool enabled)
{
    action(Command::StopTransfer)->setEnabled(enabled);
}

void MainWindow::setBusyCursor(bool busy)
{
    if (busy == busyCursor_)
        return;
    busyCursor_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void MainWindow::writeLog(const QString& text)
{
    writeLogLines(QStringList { text });
}

void MainWindow::writeLogLines(const QStringList& texts)
{
    // A log that cannot be written (disk full, read-only, a folder in its
    // place) never stops the work: the lines are lost, and the status bar and
    // a notification say why for as long as it lasts. A box would wait for a
    // user who may not be there, in front of the scheduler.
    try {
        log_->write(texts);
    } catch (const LogWriteError& error) {
        if (desktop_)
            desktop_->logWriteFailed(error);
        return;
    }
    if (desktop_)
        desktop_->logWritten();
}

QDateTime MainWindow::now() const
{
    return clock_();
}

bool MainWindow::isCommandEnabled(Command command) const
{
    return action(command)->isEnabled();
}

void MainWindow::runCommand(Command command)
{
    if (!isCommandEnabled(command))
        return;
    if (const auto& handler = handlers_[std::size_t(command)])
        handler();
}

bool MainWindow::jobBusy() const
{
    return transferWiring_->engine().busy();
}

bool MainWindow::runGuarded(const std::function<void()>& body)
{
    return taskhaul::runGuarded(*boxes_, body);
}

// ---- Handed on to the engine, the scheduler and the update check ------------------

void MainWindow::connectToSiteCommand()
{
    // The connect returns before any box is shown; the window asks what it left.
    TransferEngine& engine = transferWiring_->engine();
    askingConnect(engine, *boxes_, [&engine] { engine.connectCommand(); });
}
void MainWindow::disconnectFromSiteCommand()
{
    transferWiring_->engine().disconnectCommand();
}
void MainWindow::transferCommand()
{
    // The run returns before its box is shown.
    TransferEngine& engine = transferWiring_->engine();
    showingTransfer(engine, *boxes_, [&engine] { engine.transferCommand(); });
}
void MainWindow::stopTransferCommand()
{
    transferWiring_->engine().stopTransferCommand();
}
void MainWindow::anonymousLoginClicked()
{
    transferWiring_->engine().anonymousLogin();
}
void MainWindow::startSchedulerCommand()
{
    if (jobBusy())
        return;
    schedulerWiring_->scheduler().start();
    // The icon and the status bar follow at once.
    desktop_->refreshIndicators();
}
void MainWindow::stopSchedulerCommand()
{
    schedulerWiring_->scheduler().stop();
    // The icon and the status bar follow at once.
    desktop_->refreshIndicators();
}
void MainWindow::startStopSchedulerCommand()
{
    // Stopping is always allowed; starting waits for the connect or run.
    if (!schedulerWiring_->scheduler().isOn() && jobBusy())
        return;
    schedulerWiring_->scheduler().startStop();
    // The icon and the status bar follow at once.
    desktop_->refreshIndicators();
}
void MainWindow::resetTimersClicked()
{
    schedulerWiring_->scheduler().resetTimers();
}

void MainWindow::scheduledRunFinished(RunOutcome outcome)
{
    desktop_->runFinished(outcome);
}

void MainWindow::checkForUpdatesCommand()
{
    updateWiring_->Action16Execute();
}

// ---- Control states ---------------------------------------------------------------

ControlConditions MainWindow::controlConditions() const
{
    ControlConditions conditions;
    conditions.oneFile = form_.oneFile->isChecked();
    conditions.rename = form_.rename->isChecked();
    conditions.dailyTime = form_.dailyTimeKind->isChecked();
    conditions.autoStart = form_.autoStart->isChecked();
    conditions.configChanged = flags_.configChanged;
    conditions.sftp = form_.sftpChosen();
    conditions.trusted = !form_.trustedOfProtocol().isEmpty();
    return conditions;
}

void MainWindow::setControlEnabled(const QString& objectName, bool enabled)
{
    for (QAction* candidate : actions_) {
        if (candidate->objectName() == objectName) {
            candidate->setEnabled(enabled);
            return;
        }
    }
    if (auto* widget = findChild<QWidget*>(objectName))
        widget->setEnabled(enabled);
}

void MainWindow::setScheduleGroupCaption(const QString& caption)
{
    form_.scheduleGroup->setTitle(caption);
}

} // namespace taskhaul
