#pragma once

#include "scheduler/scheduler_clock.h"
#include "scheduler/scheduler_timer.h"

#include <QDateTime>

#include <algorithm>
#include <functional>
#include <vector>

namespace taskhaul::test {

class SimulatedTime;

// A one-shot timer of the simulated event loop.
class SimulatedTimer : public SchedulerTimer {
public:
    explicit SimulatedTimer(SimulatedTime& time);
    void start(qint64 ms) override;
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }

    qint64 deadline() const { return deadline_; }
    int starts() const { return starts_; }
    void deliver()
    {
        active_ = false;
        fire();
    }

private:
    SimulatedTime& time_;
    bool active_ = false;
    qint64 deadline_ = 0;
    int starts_ = 0;
};

// A clock and an event loop that only move when the test says so. The wall
// clock starts at `wallStart` and runs with the elapsed clock unless the test
// shifts it (daylight saving, a corrected clock).
class SimulatedTime : public SchedulerClock {
public:
    explicit SimulatedTime(QDateTime wallStart)
        : wallStart_(std::move(wallStart))
    {
    }

    QDateTime localNow() const override { return wallStart_.addMSecs(elapsed_ + wallShift_); }
    qint64 elapsedMs() const override { return elapsed_; }

    // Lets `ms` pass with the event loop running: every timer that falls due is
    // delivered in order, each when it is due (or at once, when a handler ran
    // past it). Handlers may call advance() themselves, as the FTP client's
    // waiting lets ticks run inside a run.
    void advance(qint64 ms)
    {
        const qint64 target = elapsed_ + ms;
        for (;;) {
            SimulatedTimer* next = nullptr;
            for (SimulatedTimer* timer : timers_)
                if (timer->isActive() && timer->deadline() <= target
                    && (!next || timer->deadline() < next->deadline()))
                    next = timer;
            if (!next)
                break;
            elapsed_ = std::max(elapsed_, next->deadline() + (lateness ? lateness() : 0));
            next->deliver();
        }
        elapsed_ = std::max(elapsed_, target);
    }
    // Advances until the wall clock shows `wall`.
    void advanceTo(const QDateTime& wall) { advance(std::max<qint64>(localNow().msecsTo(wall), 0)); }
    // Lets `ms` pass with the event loop stopped (the computer asleep, the
    // thread blocked): timers that fall due meanwhile are delivered late, by the
    // next advance().
    void block(qint64 ms) { elapsed_ += ms; }
    // Moves the wall clock alone.
    void shiftWall(qint64 ms) { wallShift_ += ms; }

    // How late each delivery comes, in ms (timer jitter); none when empty.
    std::function<qint64()> lateness;

    void add(SimulatedTimer* timer) { timers_.push_back(timer); }

private:
    QDateTime wallStart_;
    qint64 elapsed_ = 0;
    qint64 wallShift_ = 0;
    std::vector<SimulatedTimer*> timers_;
};

inline SimulatedTimer::SimulatedTimer(SimulatedTime& time)
    : time_(time)
{
    time_.add(this);
}

inline void SimulatedTimer::start(qint64 ms)
{
    ++starts_;
    active_ = true;
    deadline_ = time_.elapsedMs() + ms;
}

// A wall-clock moment, time zone left out (the scheduler reads only its parts).
inline QDateTime wall(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), Qt::UTC);
}

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;

} // namespace taskhaul::test
