#pragma once

#include "app/schedule_status.h"
#include "app/transfer_progress.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>

namespace taskhaul {

class DesktopWindowRole;
class LogWriteError;
class NotificationSender;
class Scheduler;
class TransferWiring;
enum class RunOutcome;

// What the window adds on a Linux desktop beyond its original behaviour: the
// autostart entry; the progress of a download in the status bar and the icon's
// tooltip; the next and the last scheduled run in the status bar; the icon's
// picture by state; notifications of scheduled runs. Each option is off by
// default.
class DesktopIntegration : public QObject {
    Q_OBJECT
public:
    // `notifier` null: the desktop's notification service, else the icon's balloon.
    DesktopIntegration(DesktopWindowRole& window, TransferWiring& transfer, Scheduler& scheduler,
        NotificationSender* notifier);
    ~DesktopIntegration() override;

    // The autostart entry follows "Start Taskhaul when I log in": written or
    // removed when the box changes and whenever the job is loaded or saved (the
    // window calls it then).
    void syncAutostart();

    // A scheduled run ended: the status bar and the icon show it, and the
    // desktop is told when it failed (or fetched files, when asked for).
    void runFinished(RunOutcome outcome);
    // The schedule text and the icon's picture, as things are now. Also runs
    // every second, and at each start and end of a download.
    void refreshIndicators();

    // A line of the activity log could not be written: the status bar says
    // why until a line can be written again, and the desktop is told once.
    void logWriteFailed(const LogWriteError& error);
    void logWritten();

private:
    void showProgress(const ProgressState& state);
    void openLog();

    DesktopWindowRole& window_;
    TransferWiring& transfer_;
    Scheduler& scheduler_;
    std::unique_ptr<TransferProgress> progress_;
    std::unique_ptr<NotificationSender> ownNotifier_;
    NotificationSender* notifier_;
    std::optional<LastRunSummary> lastRun_;
    QTimer refresh_;
    bool balloonOpensLog_ = false;
    bool logFailing_ = false;
    // The last scheduled run that ended (not stopped) failed: the next one
    // that succeeds says so.
    bool failing_ = false;
};

} // namespace taskhaul
