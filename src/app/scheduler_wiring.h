#pragma once

#include "scheduler/engine_run_steps.h"
#include "scheduler/scheduler.h"
#include "scheduler/scheduler_clock.h"
#include "scheduler/scheduler_host.h"
#include "scheduler/scheduler_timer.h"

namespace taskhaul {

class SchedulerWindowRole;
class TransferWiring;

// The scheduler as the main window offers it: the daily timer (Timer1) and the
// interval timer (Timer2) on the window's event loop, the computer's clock, and
// runs through the window's transfer engine. It reads the window's fields and
// shows its state through the window's icon hint, log and controls.
class SchedulerWiring : private SchedulerHost {
public:
    SchedulerWiring(SchedulerWindowRole& window, TransferWiring& transfer);
    ~SchedulerWiring() override;
    SchedulerWiring(const SchedulerWiring&) = delete;
    SchedulerWiring& operator=(const SchedulerWiring&) = delete;

    Scheduler& scheduler() { return scheduler_; }

private:
    // SchedulerHost
    JobSettings job() const override;
    void setDailyTime(const QTime& time) override;
    void writeLog(const QString& text) override;
    MessageBoxes& messageBoxes() override;
    void setTrayHint(const QString& hint) override;
    void controlsStandby() override;
    void controlsSchedon() override;
    void controlsConnected() override;
    bool startEnabled() const override;
    bool stopEnabled() const override;
    void runFinished(RunOutcome outcome) override;

    // The window's clock for the time of day; the computer's for elapsed time.
    class WindowClock : public SchedulerClock {
    public:
        explicit WindowClock(const SchedulerWindowRole& window)
            : window_(window)
        {
        }
        QDateTime localNow() const override;
        qint64 elapsedMs() const override { return system_.elapsedMs(); }

    private:
        const SchedulerWindowRole& window_;
        SystemSchedulerClock system_;
    };

    SchedulerWindowRole& window_;
    WindowClock clock_;
    QtSchedulerTimer Timer1_;
    QtSchedulerTimer Timer2_;
    QtSchedulerTimer retryTimer_;
    EngineRunSteps steps_;
    Scheduler scheduler_;
};

} // namespace taskhaul
