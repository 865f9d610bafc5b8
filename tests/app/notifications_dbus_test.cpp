// Notices through the desktop's notification service, against a session bus of
// the test's own (dbus-daemon, Debian's package dbus) with a fake org.freedesktop.Notifications that
// records each Notify call.
#include "app/dbus_notifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace taskhaul {
namespace {

struct NotifyCall {
    QString app;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::vector<NotifyCall> calls;

public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
        const QStringList& actions, const QVariantMap& hints, int)
    {
        calls.push_back({ app, summary, body, actions, hints });
        return uint(41 + calls.size());
    }
    QStringList GetCapabilities() { return { QStringLiteral("actions"), QStringLiteral("body") }; }
};

// A private session bus for the length of one test.
class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A bus of its own, without the machine's service folders: no
        // notification daemon installed here can be started on it.
        ASSERT_TRUE(dir_.isValid());
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("<busconfig>\n"
                     "  <type>session</type>\n"
                     "  <listen>unix:dir="
            + dir_.path().toUtf8()
            + "</listen>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");
        config.close();
        daemon_.start(QStringLiteral("dbus-daemon"),
            { QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        ASSERT_TRUE(daemon_.waitForStarted(5000)) << "dbus-daemon is missing (Debian package dbus)";
        ASSERT_TRUE(QTest::qWaitFor([this] { return daemon_.canReadLine(); }, 5000));
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        ASSERT_FALSE(address_.isEmpty());
    }

    void TearDown() override
    {
        for (const QString& name : { QStringLiteral("service"), QStringLiteral("client") })
            QDBusConnection::disconnectFromBus(name);
        daemon_.terminate();
        daemon_.waitForFinished(5000);
    }

    QDBusConnection connect(const QString& name) { return QDBusConnection::connectToBus(address_, name); }

    bool registerService(FakeNotifications& fake)
    {
        QDBusConnection bus = connect(QStringLiteral("service"));
        return bus.isConnected()
            && bus.registerObject(
                QString::fromLatin1(DBusNotifier::path), &fake, QDBusConnection::ExportAllSlots)
            && bus.registerService(QString::fromLatin1(DBusNotifier::service));
    }

    void invokeAction(uint id, const QString& key)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(DBusNotifier::path),
            QString::fromLatin1(DBusNotifier::service), QStringLiteral("ActionInvoked"));
        signal << id << key;
        ASSERT_TRUE(connect(QStringLiteral("service")).send(signal));
    }

    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
};

const RunNotice kFailure { QStringLiteral("Taskhaul: scheduled transfer failed"),
    QStringLiteral("Connection refused"), true };

TEST_F(PrivateBus, ANoticeGoesToTheServiceAndItsClickOpensTheLog)
{
    FakeNotifications fake;
    ASSERT_TRUE(registerService(fake));
    std::vector<RunNotice> fallback;
    DBusNotifier notifier(
        connect(QStringLiteral("client")), [&](const RunNotice& n) { fallback.push_back(n); });
    int clicks = 0;
    notifier.clicked = [&] { ++clicks; };
    ASSERT_TRUE(notifier.serviceAvailable());

    notifier.send(kFailure);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 1; }, 5000));
    const NotifyCall& call = fake.calls[0];
    EXPECT_EQ(call.app, QStringLiteral("Taskhaul"));
    EXPECT_EQ(call.summary, kFailure.title);
    EXPECT_EQ(call.body, kFailure.body);
    ASSERT_GE(call.actions.size(), 2);
    EXPECT_EQ(call.actions[0], QStringLiteral("default"));
    EXPECT_EQ(call.hints.value(QStringLiteral("urgency")).toInt(), 2); // critical
    EXPECT_TRUE(fallback.empty());

    // Another program's notice, or another action, opens nothing; ours does.
    QTest::qWait(200); // the reply with the notice's id is in
    invokeAction(7, QStringLiteral("default"));
    invokeAction(42, QStringLiteral("other"));
    invokeAction(42, QStringLiteral("default"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return clicks > 0; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(clicks, 1);
}

TEST_F(PrivateBus, WithoutAServiceTheIconShowsTheNotice)
{
    std::vector<RunNotice> fallback;
    DBusNotifier notifier(
        connect(QStringLiteral("client")), [&](const RunNotice& n) { fallback.push_back(n); });
    EXPECT_FALSE(notifier.serviceAvailable());
    notifier.send(kFailure);
    ASSERT_EQ(fallback.size(), 1u);
    EXPECT_EQ(fallback[0], kFailure);
}

TEST(DBusNotifier, WithoutABusTheIconShowsTheNotice)
{
    std::vector<RunNotice> fallback;
    DBusNotifier notifier(
        QDBusConnection(QStringLiteral("no such bus")), [&](const RunNotice& n) { fallback.push_back(n); });
    notifier.send(kFailure);
    EXPECT_EQ(fallback.size(), 1u);
}

} // namespace
} // namespace taskhaul

#include "notifications_dbus_test.moc"
