#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace taskhaul {

// Turns SIGTERM, SIGHUP and SIGINT into a call on the event loop, so that a
// session that ends (or a `kill`) closes the program in order: the lock is
// released and the icon removed, and no question is asked.
class SessionEndSignals : public QObject {
public:
    explicit SessionEndSignals(std::function<void()> onEnd, QObject* parent = nullptr);
    ~SessionEndSignals() override;

private:
    std::function<void()> onEnd_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace taskhaul
