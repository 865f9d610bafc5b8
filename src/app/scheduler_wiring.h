#pragma once

#include "scheduler/engine_run_steps.h"
#include "scheduler/scheduler.h"
#include "scheduler/scheduler_clock.h"
#include "scheduler/scheduler_host.h"
#include "scheduler/scheduler_timer.h"

namespace taskhaul {

class SchedulerWindowRole;
class TransferWiring;

// The scheduler of the window program: the daily timer (Timer1) and the
// interval timer (Timer2) on the event loop, the window's clock, and runs
// through the program's transfer engine. The program's main builds it once and
// hands it to the window, which attaches itself: from then on it reads the
// window's fields and shows its state through the window's icon hint, log and
// controls, and its ticks run under the window's error guard.
class SchedulerWiring : private SchedulerHost {
public:
    SchedulerWiring(TransferWiring& transfer, const LongTimeFormat& logTimeFormat);
    void attach(SchedulerWindowRole& window) { window_ = &window; }
    // The window is going: the timers stop, as the window's end stops the scheduler.
    void detach();
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
        explicit WindowClock(const SchedulerWiring& wiring)
            : wiring_(wiring)
        {
        }
        QDateTime localNow() const override;
        qint64 elapsedMs() const override { return system_.elapsedMs(); }

    private:
        const SchedulerWiring& wiring_;
        SystemSchedulerClock system_;
    };

    // Runs a tick under the window's error guard.
    void guarded(const std::function<void()>& call);

    SchedulerWindowRole* window_ = nullptr;
    WindowClock clock_;
    QtSchedulerTimer Timer1_;
    QtSchedulerTimer Timer2_;
    QtSchedulerTimer retryTimer_;
    EngineRunSteps steps_;
    Scheduler scheduler_;
};

} // namespace taskhaul
