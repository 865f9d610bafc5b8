#include "app/dbus_notifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace taskhaul {

namespace {

const QString kInterface = QString::fromLatin1(DBusNotifier::service);

} // namespace

DBusNotifier::DBusNotifier(
    QDBusConnection bus, std::function<void(const RunNotice&)> fallback, QObject* parent)
    : QObject(parent)
    , bus_(std::move(bus))
    , fallback_(std::move(fallback))
{
    if (!bus_.isConnected())
        return;
    bus_.connect(QString(), QString::fromLatin1(path), kInterface, QStringLiteral("ActionInvoked"), this,
        SLOT(actionInvoked(uint, QString)));
    bus_.connect(QString(), QString::fromLatin1(path), kInterface, QStringLiteral("NotificationClosed"), this,
        SLOT(notificationClosed(uint, uint)));
}

bool DBusNotifier::serviceAvailable() const
{
    if (!bus_.isConnected() || !bus_.interface())
        return false;
    if (bus_.interface()->isServiceRegistered(kInterface))
        return true;
    const QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
        QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = bus_.call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().first().toStringList().contains(kInterface);
}

void DBusNotifier::send(const RunNotice& notice)
{
    if (!serviceAvailable()) {
        if (fallback_)
            fallback_(notice);
        return;
    }
    if (notice.ofRun && runNoticePending_) {
        nextRunNotice_ = notice; // only the newest run's notice is worth showing
        return;
    }
    notify(notice);
}

void DBusNotifier::notify(const RunNotice& notice)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kInterface, QString::fromLatin1(path), kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.failure ? 2 : 1)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.velmora.Taskhaul"));
    const uint replaces = notice.ofRun ? runNotice_ : 0;
    call << QStringLiteral("Taskhaul") << replaces << QStringLiteral("org.velmora.Taskhaul") << notice.title
         << notice.body << QStringList { QStringLiteral("default"), QStringLiteral("Open the log") } << hints
         << int(-1);
    runNoticePending_ = runNoticePending_ || notice.ofRun;
    // Asynchronous: the service may take its time, and the window goes on.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, notice](QDBusPendingCallWatcher* self) {
        self->deleteLater();
        const QDBusPendingReply<uint> reply = *self;
        if (reply.isError()) {
            if (fallback_)
                fallback_(notice);
        } else {
            shown_.insert(reply.value());
            if (notice.ofRun)
                runNotice_ = reply.value();
        }
        if (!notice.ofRun)
            return;
        runNoticePending_ = false;
        if (nextRunNotice_) {
            const RunNotice next = *std::exchange(nextRunNotice_, std::nullopt);
            notify(next);
        }
    });
}

void DBusNotifier::actionInvoked(uint id, const QString& actionKey)
{
    if (!shown_.count(id) || actionKey != QLatin1String("default"))
        return;
    if (clicked)
        clicked();
}

void DBusNotifier::notificationClosed(uint id, uint)
{
    shown_.erase(id);
    // Gone from the screen: the next run's notice is a new one.
    if (id == runNotice_)
        runNotice_ = 0;
}

} // namespace taskhaul
