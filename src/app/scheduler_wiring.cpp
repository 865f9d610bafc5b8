#include "app/scheduler_wiring.h"

#include "app/transfer_wiring.h"
#include "app/window_roles.h"

namespace taskhaul {

SchedulerWiring::SchedulerWiring(TransferWiring& transfer, const LongTimeFormat& logTimeFormat)
    : clock_(*this)
    , Timer1_([this](const std::function<void()>& call) { guarded(call); })
    , Timer2_([this](const std::function<void()>& call) { guarded(call); })
    , retryTimer_([this](const std::function<void()>& call) { guarded(call); })
    // Ticks arrive through the site's pump while any of its calls waits; such
    // a tick must leave the connection to the call (the user's Connect, say).
    , steps_(transfer.engine(), [&engine = transfer.engine()] { return engine.siteBlocked(); })
    , scheduler_(*this, steps_, clock_, Timer1_, Timer2_, logTimeFormat)
{
    scheduler_.setRetryTimer(&retryTimer_);
}

SchedulerWiring::~SchedulerWiring()
{
    Timer1_.stop();
    Timer2_.stop();
    retryTimer_.stop();
}

void SchedulerWiring::detach()
{
    Timer1_.stop();
    Timer2_.stop();
    retryTimer_.stop();
    window_ = nullptr;
}

void SchedulerWiring::guarded(const std::function<void()>& call)
{
    window_->runGuarded(call);
}

QDateTime SchedulerWiring::WindowClock::localNow() const
{
    return wiring_.window_->now();
}

JobSettings SchedulerWiring::job() const
{
    return window_->jobSettings();
}

void SchedulerWiring::setDailyTime(const QTime& time)
{
    window_->setDailyTime(time);
}

void SchedulerWiring::writeLog(const QString& text)
{
    window_->writeLog(text);
}

MessageBoxes& SchedulerWiring::messageBoxes()
{
    return window_->messageBoxes();
}

void SchedulerWiring::setTrayHint(const QString& hint)
{
    window_->setTrayHint(hint);
}

void SchedulerWiring::controlsStandby()
{
    window_->controlsStandby();
}

void SchedulerWiring::controlsSchedon()
{
    window_->controlsSchedon();
}

void SchedulerWiring::controlsConnected()
{
    window_->controlsConnected();
}

bool SchedulerWiring::startEnabled() const
{
    return window_->isCommandEnabled(Command::StartScheduler);
}

bool SchedulerWiring::stopEnabled() const
{
    return window_->isCommandEnabled(Command::StopScheduler);
}

void SchedulerWiring::runFinished(RunOutcome outcome)
{
    window_->scheduledRunFinished(outcome);
}

} // namespace taskhaul
