#include "app/desktop_integration.h"

#include "app/autostart_entry.h"
#include "app/dbus_notifier.h"
#include "app/progress_text.h"
#include "app/qt_services.h"
#include "app/run_notice.h"
#include "app/status_line.h"
#include "app/transfer_wiring.h"
#include "app/window_roles.h"
#include "log/activity_log.h"
#include "scheduler/scheduler.h"
#include "transfer/file_template.h"
#include "transfer/transfer_texts.h"

#include <cstring>
#include <utility>

namespace taskhaul {

namespace {

constexpr int kRefreshMs = 1000;

// A run over several connections names its files done before the bytes in the
// status line, after them in the tray's line.
QString withFiles(const ProgressState& state, const QString& text, bool after)
{
    const QString files = filesDoneText(state.filesDone, state.filesTotal);
    if (files.isEmpty())
        return text;
    return after ? text + QStringLiteral(" (") + files + QLatin1Char(')')
                 : files + QStringLiteral(", ") + text;
}

} // namespace

DesktopIntegration::DesktopIntegration(
    DesktopWindowRole& window, TransferWiring& transfer, Scheduler& scheduler, NotificationSender* notifier)
    : window_(window)
    , transfer_(transfer)
    , scheduler_(scheduler)
    , notifier_(notifier)
{
    // The engine announces each download with its size, its bytes as they
    // come and its end; a run that ends by an error ends its download too.
    progress_
        = std::make_unique<TransferProgress>([this](const ProgressState& state) { showProgress(state); });
    transfer.engine().setFileStartedHandler(
        [this](const FileStarted& started) { progress_->begin(started.size); });
    TransferEvents events;
    events.progress = [this](std::int64_t received) { progress_->work(received); };
    events.fileFinished = [this](const FileFinished&) { progress_->end(); };
    events.runFinished = [this](const RunReport&) { progress_->endRun(); };
    events.runProgress = [this](const RunProgress& run) {
        progress_->run(run.filesDone, run.filesTotal, run.bytesDone, run.bytesTotal);
    };
    transfer.engine().setEvents(std::move(events));

    if (!notifier_) {
        auto* tray = dynamic_cast<QtTrayArea*>(&window.tray());
        ownNotifier_ = std::make_unique<DBusNotifier>(
            QDBusConnection::sessionBus(), [this](const RunNotice& notice) {
                balloonOpensLog_ = true;
                window_.tray().showBalloon(notice.title, notice.body,
                    notice.failure ? TrayArea::BalloonIcon::Warning : TrayArea::BalloonIcon::Information, 10);
            });
        notifier_ = ownNotifier_.get();
        if (tray)
            connect(tray, &QtTrayArea::balloonClicked, this, [this] {
                if (std::exchange(balloonOpensLog_, false))
                    openLog();
            });
    }
    notifier_->clicked = [this] { openLog(); };

    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { refreshIndicators(); });
    refresh_.start();
}

DesktopIntegration::~DesktopIntegration()
{
    transfer_.engine().setFileStartedHandler(nullptr);
    transfer_.engine().setEvents({});
    if (notifier_)
        notifier_->clicked = nullptr;
}

void DesktopIntegration::syncAutostart()
{
    if (!AutostartEntry::apply(window_.startAtLogin()))
        window_.writeLog(QStringLiteral("Cannot write the autostart entry ") + AutostartEntry::path());
}

void DesktopIntegration::showProgress(const ProgressState& state)
{
    if (!state.active) {
        window_.statusLineWidgets().setProgress(false);
        window_.tray().setProgress(QString());
        refreshIndicators();
        return;
    }
    window_.statusLineWidgets().setProgress(true, progressPercent(state.received, state.size),
        withFiles(state, progressText(state.received, state.size, state.bytesPerSecond), false),
        shortProgressText(state.received, state.size, state.bytesPerSecond));
    window_.tray().setProgress(
        withFiles(state, trayProgressText(state.received, state.size, state.bytesPerSecond), true));
    window_.tray().setState(TrayState::Running);
}

void DesktopIntegration::runFinished(RunOutcome outcome)
{
    const JobSettings job = window_.jobSettings();
    const RunReport& report = transfer_.engine().lastRun();
    const RunReport none;
    const RunReport& thisRun = outcome == RunOutcome::Incomplete ? none : report;
    const std::optional<RunNotice> notice = noticeForRun(outcome, thisRun, job, failing_);
    // A stopped run says nothing either way; any other tells whether the job works.
    if (notice)
        failing_ = notice->failure;
    else if (!thisRun.aborted)
        failing_ = false;
    lastRun_ = LastRunSummary { window_.now(), !(notice && notice->failure) && outcome != RunOutcome::Failed,
        thisRun.fetched };
    refreshIndicators();
    if (notice)
        notifier_->send(*notice);
}

void DesktopIntegration::refreshIndicators()
{
    if (!scheduler_.isOn())
        lastRun_.reset(); // a new start begins afresh
    const TransferEngine& engine = transfer_.engine();
    const bool running = scheduler_.runInProgress() || engine.transferRunning() || engine.connecting();
    window_.tray().setState(trayStateFor(scheduler_.isOn(), running, lastRun_ && !lastRun_->ok));

    QString text;
    if (scheduler_.isOn()) {
        const QDateTime now = window_.now();
        std::optional<QDateTime> next;
        if (scheduler_.runInProgress() || scheduler_.retryPending())
            next.reset();
        else if (scheduler_.dailyOn())
            next = nextDailyRun(now, window_.jobSettings().dailyTime);
        else if (scheduler_.intervalOn())
            next = now.addMSecs(scheduler_.intervalTimer().dueMs() - SystemSchedulerClock().elapsedMs());
        text = scheduleStatusText(now, next, lastRun_);
    }
    window_.statusLineWidgets().setSchedule(text);
}

void DesktopIntegration::logWriteFailed(const LogWriteError& error)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(error.systemError()));
    window_.statusLineWidgets().setLogProblem(
        QStringLiteral("The activity log cannot be written: %1 (%2)").arg(reason, error.path()),
        QStringLiteral("Log not written: ") + reason);
    if (std::exchange(logFailing_, true))
        return;
    notifier_->send(RunNotice { QStringLiteral("Taskhaul: the activity log cannot be written"),
        QStringLiteral("%1: %2. Transfers go on without it.").arg(error.path(), reason), true });
}

void DesktopIntegration::logWritten()
{
    if (std::exchange(logFailing_, false))
        window_.statusLineWidgets().setLogProblem(QString());
}

void DesktopIntegration::openLog()
{
    window_.runGuarded([this] { window_.runCommand(Command::ViewLogFile); });
}

} // namespace taskhaul
