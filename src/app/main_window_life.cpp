// The life of the main window: start-up, activation, hiding to the notification
// area, closing and the end of the desktop session.

#include "app/main_window.h"

#include "app/status_line.h"
#include "app/transfer_wiring.h"
#include "log/user_messages.h"
#include "settings/settings_store.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QStatusTipEvent>
#include <QTimer>

namespace taskhaul {

namespace {

const QString kHintOn = QStringLiteral("Taskhaul - Scheduler is ON");
const QString kConfirmCaption = QStringLiteral("Confirm");

} // namespace

void MainWindow::formCreate()
{
    flags_.autoLoadPending = true;
    flags_.configChanged = false;
    flags_.exitRequested = false;
    controlsStandby();
    flags_.autoStartPending = false;

    flags_.loadingOptions = true;
    const StartupOptions stored = store_->readStartupOptions();
    form_.autoLoad->setChecked(stored.autoLoad);
    form_.autoStart->setChecked(stored.autoStart);
    form_.minimized->setChecked(stored.minimized);
    // The switches only turn options on, for this run; they are not saved.
    for (const QString& argument : std::as_const(arguments_)) {
        if (argument == QLatin1String("-r")) {
            form_.autoLoad->setChecked(true);
            form_.autoStart->setChecked(true);
        } else if (argument == QLatin1String("-m")) {
            form_.minimized->setChecked(true);
        }
    }
    if (form_.autoStart->isChecked()) {
        flags_.autoStartPending = true;
        tray_->setHint(kHintOn);
    }
    if (form_.minimized->isChecked())
        flags_.minimizePending = true;
    flags_.loadingOptions = false;

    writeLog(form_.autoStart->isChecked() ? QStringLiteral("*** Taskhaul Started (Automatic mode) ***")
                                          : QStringLiteral("*** Taskhaul Started ***"));
    controlsStandby();
    scheduleKindFields();
}

void MainWindow::formActivate()
{
    activatedOnce_ = true;
    // Failures of whatever runs from here on are logged, not shown, until a
    // user's Connect or Transfer says otherwise.
    transferWiring_->engine().setUnattended(true);
    // Each pending step is taken before it runs: a message box shown by the
    // step re-activates the window, and that activation must not repeat it.
    if (std::exchange(flags_.autoStartPending, false)) {
        runCommand(Command::OpenConfiguration);
        runCommand(Command::StartScheduler);
    }
    if (form_.autoLoad->isChecked() && flags_.autoLoadPending) {
        flags_.autoLoadPending = false;
        runCommand(Command::OpenConfiguration);
    }
    flags_.autoStartPending = false;
}

void MainWindow::formPaint()
{
    if (!flags_.minimizePending)
        return;
    flags_.minimizePending = false;
    // A window that hides at once may never be activated (the window manager
    // decides when): its start-up work (auto-load, auto-start) must not wait
    // for an activation that might not come.
    if (!activatedOnce_)
        formActivate();
    // Not inside the paint event itself: hide once the event has been handled.
    QTimer::singleShot(0, this, [this] { hideMainWindow(); });
}

bool MainWindow::formClose()
{
    if (sessionEnding_)
        return true;
    // Without a notification area there is no way back to a hidden window, so
    // there every close request ends the program as the icon menu's Exit would.
    if (!flags_.exitRequested && tray_->available()) {
        hideMainWindow();
        tray_->showBalloon(QStringLiteral("Taskhaul"),
            QStringLiteral("This application has been sent to the icon tray.\r"
                           "Right-click on its icon and select Exit to end or "
                           "double-click to restore."),
            TrayArea::BalloonIcon::Information, 10);
        return false;
    }
    if (flags_.configChanged
        && boxes_->confirmDefaultNo(kConfirmCaption,
               QStringLiteral("The configuration information has changed.  Exit without saving?"))
            == MessageBoxes::Answer::No) {
        flags_.exitRequested = false;
        return false;
    }
    return true;
}

// The FTP menu's Exit says "Terminate the application", and it does, as the
// icon menu's Exit does: only closing the window sends it to the notification area.
void MainWindow::exitCommand()
{
    exitFromTrayCommand();
}

void MainWindow::exitFromTrayCommand()
{
    flags_.exitRequested = true;
    close();
}

void MainWindow::restoreMainWindow()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::hideMainWindow()
{
    if (tray_->available())
        hide();
    else
        showMinimized();
}

void MainWindow::endSession()
{
    sessionEnding_ = true;
    // A download in progress is stopped first: the program ends as soon as the
    // retrieval has unwound, with its temporary file removed, instead of
    // finishing the download or leaving the file behind.
    TransferEngine& engine = transferWiring_->engine();
    if (engine.transferRunning() || engine.connecting())
        runGuarded([&engine] { engine.stopTransferCommand(); });
    close();
}

bool MainWindow::event(QEvent* event)
{
    // DisplayHint: the long hint of the control under the mouse or the highlighted
    // menu item is shown beside the status line while it lasts; the status line
    // itself keeps the program's text (a transfer's progress stays readable).
    if (event->type() == QEvent::StatusTip) {
        statusLine_->setHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        runGuarded([this] { formActivate(); });
    } else if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_->available()) {
        // Minimising hides the window and its taskbar button; the icon stays.
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
    }
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    QTimer::singleShot(0, this, [this] {
        // The window manager decides whether a shown window is ever activated
        // (none on a bare X server; focus-stealing prevention): the start-up
        // work (auto-load, auto-start) is done once the window is shown.
        if (!activatedOnce_)
            runGuarded([this] { formActivate(); });
        // The central widget covers the whole window, so the window itself may
        // never see a paint event of its own: the first show counts as its
        // first paint.
        runGuarded([this] { formPaint(); });
    });
}

void MainWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    // No control of a hidden window is under the mouse.
    statusLine_->setHint(QString());
}

void MainWindow::paintEvent(QPaintEvent* event)
{
    QMainWindow::paintEvent(event);
    runGuarded([this] { formPaint(); });
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    bool mayClose = false;
    runGuarded([this, &mayClose] { mayClose = formClose(); });
    if (!mayClose) {
        event->ignore();
        return;
    }
    event->accept();
    if (!closedForGood_) {
        closedForGood_ = true;
        emit closedForGood();
    }
}

} // namespace taskhaul
