#pragma once

#include "app/run_notice.h"

#include <QDBusConnection>
#include <QObject>

#include <set>

namespace taskhaul {

// Notices through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). When no service runs,
// or it refuses the notice, `fallback` shows it instead (the icon's balloon).
// A click on a notice (its default action) calls `clicked`.
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
    QDBusConnection bus_;
    std::function<void(const RunNotice&)> fallback_;
    std::set<uint> shown_; // our notices still on the screen
};

} // namespace taskhaul
