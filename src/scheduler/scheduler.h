#pragma once

#include "log/long_time_format.h"
#include "scheduler/daily_trigger.h"
#include "scheduler/interval_timer.h"
#include "scheduler/scheduler_clock.h"
#include "scheduler/scheduler_host.h"
#include "scheduler/scheduler_timer.h"
#include "scheduler/unattended_run.h"

namespace taskhaul {

// The scheduler: runs the job once a day at the daily time (Timer1, a tick every
// second) or every N minutes (Timer2). It is on exactly while one of the two
// timers runs. Each due tick performs one unattended run; a tick that falls due
// while a run or a user's command still holds the connection is skipped, and
// the log says so.
//
// Everything runs on the event loop's thread; ticks, and the user's commands,
// can arrive nested inside a run while the FTP client waits.
class Scheduler {
public:
    static constexpr int kMinInterval = 1;
    static constexpr int kMaxInterval = kIntervalMinutesMax; // 366 days, in minutes
    static constexpr qint64 kDailyTickMs = 1000;

    Scheduler(SchedulerHost& host, RunSteps& steps, const SchedulerClock& clock, SchedulerTimer& dailyTimer,
        SchedulerTimer& intervalTimer, LongTimeFormat timeFormat);
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // The Start command: checks the job, then turns the scheduler on. A refusal
    // shows its message and leaves the scheduler off.
    void start();
    // The Stop command.
    void stop();
    // The Start/Stop command: Start when it is enabled, otherwise Stop when that is.
    void startStop();
    // The Reset timers button: the daily time becomes the current time of day.
    void resetTimers();

    bool isOn() const { return dailyOn_ || interval_.isActive(); }
    bool dailyOn() const { return dailyOn_; }
    bool intervalOn() const { return interval_.isActive(); }
    bool runInProgress() const { return running_; }

    // Retries: a run that lost its connection (or never got one) is tried again
    // as the job says, its delay apart, resuming after the files already
    // fetched. Without a timer nothing is retried. A due tick while a retry
    // waits is skipped; Stop cancels the retry.
    void setRetryTimer(SchedulerTimer* timer);
    bool retryPending() const { return retryTimer_ && retryTimer_->isActive(); }
    const IntervalTimer& intervalTimer() const { return interval_; }

    // The text of the log lines and the icon hint.
    static const QString& skippedLine();
    // A due run skipped because another run (of any copy of the program) is
    // writing into the same local folder.
    static QString folderInUseLine(const QString& localFolder);
    static const QString& hintOn();
    static const QString& hintOff();

private:
    void stopTimers();
    void dailyTick();
    void intervalTick();
    void runDue(RunKind kind);
    void runAttempt(RunKind kind);
    void retryTick();
    void log(const QString& text);

    SchedulerHost& host_;
    RunSteps& steps_;
    const SchedulerClock& clock_;
    SchedulerTimer& dailyTimer_;
    IntervalTimer interval_;
    LongTimeFormat timeFormat_;
    DailyTrigger dailyTrigger_;
    bool dailyOn_ = false;
    bool running_ = false;
    SchedulerTimer* retryTimer_ = nullptr;
    RunKind retryKind_ = RunKind::Interval;
    RunAttempts attempts_;
};

// The interval field's value as Start reads it: clamped into 1..527040.
int clampedInterval(int minutes);

// The message with which Start refuses `job` (the first check that fails), or
// an empty text when the job may be scheduled.
QString startRefusal(const JobSettings& job);

} // namespace taskhaul
