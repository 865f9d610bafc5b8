#pragma once

#include <QIcon>

namespace taskhaul {

// The program's picture: window, notification area and About window.
QIcon programIcon();

// What the notification-area icon shows.
enum class TrayState {
    Idle, // the program's picture
    SchedulerOn, // with a green clock
    Running, // with an amber arrow: a transfer is under way
    Failed, // with a red "!": the last scheduled run failed
};
QIcon trayIcon(TrayState state);
// Running wins over a failure, a failure over the scheduler being on.
TrayState trayStateFor(bool schedulerOn, bool running, bool lastRunFailed);

} // namespace taskhaul
