#include "app/gui_main.h"

#include "app/event_guard.h"
#include "app/main_window.h"
#include "app/scheduler_wiring.h"
#include "app/session_end.h"
#include "app/single_instance.h"
#include "app/transfer_wiring.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "settings/settings_store.h"

#include <QApplication>
#include <QLocale>
#include <QSessionManager>
#include <QWidget>

#include <exception>

namespace taskhaul {

namespace {

// Every entry point of the window runs under its own error guard; this is the
// last line behind them, for an error that escapes code outside those entry
// points (a slot of a library, an event handler of a dialog). It shows the error
// the same way and lets the program go on, so no exception unwinds through Qt.
class GuardedApplication : public QApplication {
public:
    using QApplication::QApplication;

    void setMessageBoxes(MessageBoxes* boxes) { boxes_ = boxes; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            if (boxes_)
                runGuarded(*boxes_, [&error] { std::rethrow_exception(error); });
            return false;
        }
    }

private:
    MessageBoxes* boxes_ = nullptr;
};

} // namespace

int runGui(int argc, char** argv)
{
    // The guard comes before anything else: a second copy leaves at once,
    // silently, with exit code 0, once it has asked the running copy to bring
    // its window to the front.
    const QString lockPath = SingleInstance::defaultLockPath();
    SingleInstance instance(lockPath);
    if (!instance.acquired()) {
        QCoreApplication core(argc, argv);
        askRunningCopy(SingleInstance::wakePath(lockPath));
        return 0;
    }

    GuardedApplication app(argc, argv);
    // No display name: the platform would append it to every caption
    // ("Error — Taskhaul"), and the captions must read exactly as given.
    QApplication::setApplicationName(QStringLiteral("Taskhaul"));
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    // Lets the desktop (docks, Wayland) tie the window to the installed desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.velmora.Taskhaul"));
    // Message boxes shown while the window hides in the notification area must
    // not end the program when they close.
    QApplication::setQuitOnLastWindowClosed(false);

    // Log-off, shutdown or a termination signal end the program without
    // questions. The signals are caught from here on; they are acted on once the
    // event loop runs, when the window exists.
    MainWindow* mainWindow = nullptr;
    bool endBeforeWindow = false;
    SessionEndSignals sessionEnd([&mainWindow, &endBeforeWindow] {
        if (mainWindow) {
            mainWindow->endSession();
            return;
        }
        // The window is still being made, and the event loop that quit() ends
        // does not run yet: the program ends as soon as the window exists. A
        // box open meanwhile is closed, so that the making goes on.
        endBeforeWindow = true;
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });

    const LongTimeFormat timeFormat = LongTimeFormat::fromSystemLocale();
    ActivityLog log(ActivityLog::defaultPath(), timeFormat);
    SettingsStore store(timeFormat);
    // The working parts the window shows: built once, here, and handed to it.
    TransferWiring transfer;
    SchedulerWiring scheduler(transfer, timeFormat);

    MainWindowServices services;
    services.log = &log;
    services.store = &store;
    services.transfer = &transfer;
    services.scheduler = &scheduler;
    services.arguments = QApplication::arguments().mid(1);
    MainWindow window(services);
    if (endBeforeWindow)
        return 0;
    mainWindow = &window;
    app.setMessageBoxes(&window.messageBoxes());
    QObject::connect(&window, &MainWindow::closedForGood, &app, &QApplication::quit, Qt::QueuedConnection);

    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
        window.endSession();
    });

    // A second start brings the window to the front, restored if hidden.
    WakeServer wake(
        SingleInstance::wakePath(lockPath), [&window] { window.restoreMainWindow(); },
        [&window] { return window.isVisible() && !window.isMinimized(); });

    window.show();
    return app.exec();
}

} // namespace taskhaul
