#include "scheduler/scheduler_timer.h"

#include <algorithm>

namespace taskhaul {

QtSchedulerTimer::QtSchedulerTimer(Guard guard)
    : guard_(std::move(guard))
{
    timer_.setSingleShot(true);
    // The daily timer ticks every second; a coarse timer could stray by 50 ms.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (guard_)
            guard_([this] { fire(); });
        else
            fire();
    });
}

void QtSchedulerTimer::start(qint64 ms)
{
    timer_.start(int(std::clamp<qint64>(ms, 0, kLongestWaitMs)));
}

void QtSchedulerTimer::stop()
{
    timer_.stop();
}

bool QtSchedulerTimer::isActive() const
{
    return timer_.isActive();
}

} // namespace taskhaul
