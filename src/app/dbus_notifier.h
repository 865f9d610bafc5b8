#pragma once

#include "app/run_notice.h"

#include <QDBusConnection>
#include <QObject>

#include <optional>
#include <set>

namespace taskhaul {

// Notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). When no service runs,
// or it refuses the notice, `fallback` shows it instead (the icon's balloon).
// A click on a notice (its default action) calls `clicked`. A run's notice
// takes the place of the previous run's while that one is still shown (the
// service's replaces_id), so a job failing every minute shows one notice.
class DBusNotifier : public QObject, public NotificationSender {
    Q_OBJECT
public:
    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";

    DBusNotifier(
        QDBusConnection bus, std::function<void(const RunNotice&)> fallback, QObject* parent = nullptr);

    void send(const RunNotice& notice) override;
    // Whether a notification service runs, or can be started, on the bus.
    bool serviceAvailable() const;

private slots:
    void actionInvoked(uint id, const QString& actionKey);
    void notificationClosed(uint id, uint reason);

private:
    void notify(const RunNotice& notice);

    QDBusConnection bus_;
    std::function<void(const RunNotice&)> fallback_;
    std::set<uint> shown_; // our notices still on the screen
    uint runNotice_ = 0; // the id of the last run's notice while it is shown
    // A run's notice waits while the service has not yet given the id of the
    // one before, which it is to replace.
    bool runNoticePending_ = false;
    std::optional<RunNotice> nextRunNotice_;
};

} // namespace taskhaul
