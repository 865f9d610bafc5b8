#include "settings/keyring_module.h"

#include <qt6keychain/keychain.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <type_traits>

#include <dlfcn.h>

namespace taskhaul {

namespace {

// How long one question to the keyring may take. A keyring that has not
// answered by then counts as failed; the caller logs it and goes on.
constexpr int replyTimeoutMs = 10000;

const QString secretsName = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString serviceInterface = QStringLiteral("org.freedesktop.Secret.Service");
const QString collectionInterface = QStringLiteral("org.freedesktop.Secret.Collection");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// One blocking call on the session bus, bounded by the timeout. QDBus::Block
// waits without running the event loop, so nothing else runs meanwhile.
QDBusMessage callSecrets(const QDBusConnection& bus, const QString& path, const QString& interface,
    const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(secretsName, path, interface, method);
    call.setArguments(arguments);
    return bus.call(call, QDBus::Block, replyTimeoutMs);
}

// The keyring's library (libsecret, loaded by QtKeychain) keeps one
// connection to the keyring daemon for the whole process, with an encryption
// session of that daemon. When the daemon is restarted (a crash, an update, a
// new login), that session is gone and every later call would fail with "The
// session wrapping the secret does not exist". Dropping the library's
// connection makes the next call open a new one with the daemon of now.
void forgetKeyringConnection()
{
    void* library = ::dlopen("libsecret-1.so.0", RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return; // not loaded: it holds no connection
    using Disconnect = void (*)();
    if (const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(library, "secret_service_disconnect")))
        disconnect();
    ::dlclose(library);
}

// Notes which daemon serves the keyring (its unique bus name) and, when it is
// another one than at the last use, drops the connection to the one before.
void followKeyringDaemon(const QDBusConnection& bus)
{
    static QString lastOwner;
    if (!bus.isConnected() || !bus.interface())
        return;
    const QDBusReply<QString> owner = bus.interface()->serviceOwner(secretsName);
    if (!owner.isValid())
        return;
    if (!lastOwner.isEmpty() && owner.value() != lastOwner)
        forgetKeyringConnection();
    lastOwner = owner.value();
}

class DesktopKeyring final : public PasswordKeyring {
public:
    explicit DesktopKeyring(QString service)
        : service_(std::move(service))
    {
    }

    Status status() override
    {
        const QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected() || !bus.interface())
            return Status::Absent;
        const QDBusReply<bool> running = bus.interface()->isServiceRegistered(secretsName);
        if (!running.isValid())
            return Status::Absent;
        if (!running.value()) {
            // Not running yet, but the bus starts it on the first call.
            const QDBusReply<QStringList> startable = bus.interface()->activatableServiceNames();
            if (!startable.isValid() || !startable.value().contains(secretsName))
                return Status::Absent;
        } else {
            followKeyringDaemon(bus);
        }
        // Entries go to the default collection. Without one, or while it is
        // locked, the keyring would have to ask the user for a password first.
        const QDBusMessage alias = callSecrets(
            bus, secretsPath, serviceInterface, QStringLiteral("ReadAlias"), { QStringLiteral("default") });
        if (alias.type() != QDBusMessage::ReplyMessage || alias.arguments().isEmpty())
            return Status::Absent;
        const QString collection = alias.arguments().constFirst().value<QDBusObjectPath>().path();
        if (collection.isEmpty() || collection == QLatin1String("/"))
            return Status::Locked;
        const QDBusMessage locked = callSecrets(bus, collection, propertiesInterface, QStringLiteral("Get"),
            { collectionInterface, QStringLiteral("Locked") });
        if (locked.type() != QDBusMessage::ReplyMessage || locked.arguments().isEmpty())
            return Status::Absent;
        const bool isLocked = locked.arguments().constFirst().value<QDBusVariant>().variant().toBool();
        return isLocked ? Status::Locked : Status::Available;
    }

    std::optional<QString> read(const QString& key) override
    {
        auto* job = new QKeychain::ReadPasswordJob(service_);
        std::optional<QString> value;
        const bool finished = run(job, key, [&value, job] {
            if (job->error() == QKeychain::NoError)
                value = job->textData();
            else if (job->error() == QKeychain::EntryNotFound)
                value = QString();
        });
        return finished ? value : std::nullopt;
    }

    bool write(const QString& key, const QString& value) override
    {
        auto* job = new QKeychain::WritePasswordJob(service_);
        job->setTextData(value);
        bool written = false;
        const bool finished
            = run(job, key, [&written, job] { written = job->error() == QKeychain::NoError; });
        return finished && written;
    }

    bool remove(const QString& key) override
    {
        auto* job = new QKeychain::DeletePasswordJob(service_);
        bool gone = false;
        const bool finished = run(job, key, [&gone, job] {
            gone = job->error() == QKeychain::NoError || job->error() == QKeychain::EntryNotFound;
        });
        return finished && gone;
    }

    QString lastError() const override { return lastError_; }

private:
    // Starts `job` and waits until it finishes or the timeout passes; `collect`
    // reads the job's outcome while it still exists. False after a timeout.
    //
    // QtKeychain reports only through the event loop (the keyring's D-Bus
    // replies are delivered there, through GLib's main context, which Qt's
    // default event dispatcher runs), so this waits in a local event loop.
    // Nesting one here is acceptable: the FTP client already lets the event
    // loop run every 50 ms while it waits for the server, so timer ticks and
    // other handlers are written to run inside another call; this loop ends
    // after at most `replyTimeoutMs`, so an unattended run is never held up for
    // longer; and it leaves user input queued, so no command starts halfway
    // through a load or a save.
    bool run(QKeychain::Job* job, const QString& key, const std::function<void()>& collect)
    {
        followKeyringDaemon(QDBusConnection::sessionBus());
        job->setKey(key);
        job->setAutoDelete(true); // also after a timeout: the job deletes itself when it ends
        job->setInsecureFallback(false);

        QEventLoop loop;
        bool finished = false;
        QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job*) {
            finished = true;
            collect();
            const QKeychain::Error error = job->error();
            lastError_ = error == QKeychain::NoError || error == QKeychain::EntryNotFound
                ? QString()
                : job->errorString();
            // A keyring that failed starts afresh next time.
            if (error != QKeychain::NoError && error != QKeychain::EntryNotFound)
                forgetKeyringConnection();
            if (error != QKeychain::NoError && error != QKeychain::EntryNotFound
                && lastError_.trimmed().isEmpty())
                lastError_ = QStringLiteral("error %1 without a description").arg(int(error));
            loop.quit();
        });
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        job->start();
        timeout.start(replyTimeoutMs);
        if (!finished)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        if (!finished)
            lastError_
                = QStringLiteral("the keyring did not answer within %1 seconds").arg(replyTimeoutMs / 1000);
        return finished;
    }

    QString service_;
    QString lastError_;
};

} // namespace

} // namespace taskhaul

extern "C" __attribute__((visibility("default"))) taskhaul::PasswordKeyring* taskhaulOpenDesktopKeyring(
    int interfaceVersion, const QString& service)
{
    if (interfaceVersion != taskhaulKeyringInterface)
        return nullptr;
    return new taskhaul::DesktopKeyring(service);
}

static_assert(std::is_same_v<decltype(&taskhaulOpenDesktopKeyring), TaskhaulKeyringEntry>);
