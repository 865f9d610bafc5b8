#include "app/gui_main.h"

#include "app/main_window.h"
#include "app/session_end.h"
#include "app/single_instance.h"
#include "log/activity_log.h"
#include "log/long_time_format.h"
#include "settings/settings_store.h"

#include <QApplication>
#include <QLocale>
#include <QSessionManager>

namespace taskhaul {

int runGui(int argc, char** argv)
{
    // The guard comes before anything else: a second copy leaves at once,
    // silently, with exit code 0.
    SingleInstance instance;
    if (!instance.acquired())
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Taskhaul"));
    QApplication::setApplicationDisplayName(QStringLiteral("Taskhaul"));
    QApplication::setOrganizationName(QStringLiteral("Velmora"));
    // Message boxes shown while the window hides in the notification area must
    // not end the program when they close.
    QApplication::setQuitOnLastWindowClosed(false);

    // Log-off, shutdown or a termination signal end the program without
    // questions. The signals are caught from here on; they are acted on once the
    // event loop runs, when the window exists.
    MainWindow* mainWindow = nullptr;
    SessionEndSignals sessionEnd([&mainWindow] {
        if (mainWindow)
            mainWindow->endSession();
        else
            QCoreApplication::quit();
    });

    const LongTimeFormat timeFormat = LongTimeFormat::fromSystemLocale();
    ActivityLog log(ActivityLog::defaultPath(), timeFormat);
    SettingsStore store(timeFormat);

    MainWindowServices services;
    services.log = &log;
    services.store = &store;
    services.arguments = QApplication::arguments().mid(1);
    MainWindow window(services);
    mainWindow = &window;
    QObject::connect(&window, &MainWindow::closedForGood, &app, &QApplication::quit, Qt::QueuedConnection);

    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager& manager) {
        manager.setRestartHint(QSessionManager::RestartNever);
        window.endSession();
    });

    window.show();
    return app.exec();
}

} // namespace taskhaul
