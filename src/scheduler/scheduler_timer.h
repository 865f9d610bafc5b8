#pragma once

#include <QTimer>

#include <functional>

namespace taskhaul {

// A one-shot timer whose handler runs from the event loop. Both scheduler
// timers are built on it; tests use a simulated one.
class SchedulerTimer {
public:
    using Handler = std::function<void()>;

    virtual ~SchedulerTimer() = default;
    // Calls the handler once, `ms` milliseconds from now (0 to
    // kLongestWaitMs); restarts a timer that is already running.
    virtual void start(qint64 ms) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

    void setHandler(Handler handler) { handler_ = std::move(handler); }

    // Longer waits are made of several starts; QTimer itself holds about 24.8 days.
    static constexpr qint64 kLongestWaitMs = 24LL * 60 * 60 * 1000;

protected:
    void fire()
    {
        if (handler_)
            handler_();
    }

private:
    Handler handler_;
};

// The event loop's timer.
class QtSchedulerTimer : public SchedulerTimer {
public:
    // Runs a handler call; the window passes its error guard, so that an error
    // escaping a tick is reported as any other event's error.
    using Guard = std::function<void(const std::function<void()>& call)>;

    explicit QtSchedulerTimer(Guard guard = {});
    void start(qint64 ms) override;
    void stop() override;
    bool isActive() const override;

private:
    QTimer timer_;
    Guard guard_;
};

} // namespace taskhaul
