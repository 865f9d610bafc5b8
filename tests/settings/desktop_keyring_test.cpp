// The desktop keyring for real. run_with_secret_service.sh runs these suites,
// each in the setting it needs:
//   DesktopKeyring, LockedDesktopKeyring: a private session bus with
//     gnome-keyring-daemon serving the Secret Service, its login keyring unlocked
//     (LockedDesktopKeyring locks it, so it runs last);
//   RestartedDesktopKeyring: the same, with a daemon the test restarts;
//   NoDesktopKeyring: a private session bus that nothing serves the keyring on,
//     and again with no session bus at all.
#include "settings/password_keyring.h"
#include "settings/password_scrambler.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdlib>

namespace taskhaul {
namespace {

using Status = PasswordKeyring::Status;

// The tests' own entries, apart from a real user's "Taskhaul" ones.
const QString testService = QStringLiteral("Taskhaul keyring test");
const QString sitePassword = QStringLiteral("pässwörd ;=\"x\"");
const QString proxyPassword = QStringLiteral("proxy secret");

// The keyring of the module built beside the programs.
std::shared_ptr<PasswordKeyring> desktopKeyring(const QString& service = testService)
{
    return makeDesktopKeyring(service, QStringLiteral(TASKHAUL_KEYRING_MODULE));
}

JobSettings job(bool useKeyring)
{
    JobSettings j;
    j.host = QStringLiteral("ftp.example.org");
    j.userName = QStringLiteral("anna");
    j.password = sitePassword;
    j.proxyPassword = proxyPassword;
    j.useKeyring = useKeyring;
    return j;
}

class StoreFile {
public:
    QString path() const { return dir_.filePath(QStringLiteral("Taskhaul.conf")); }
    QString stored(const char* name) const
    {
        return QSettings(path(), QSettings::IniFormat)
            .value(QStringLiteral("Options/") + QLatin1String(name))
            .toString();
    }

private:
    QTemporaryDir dir_;
};

const QString secretsName = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString secretService = QStringLiteral("org.freedesktop.Secret.Service");

QDBusObjectPath defaultCollection()
{
    QDBusMessage alias = QDBusMessage::createMethodCall(
        secretsName, secretsPath, secretService, QStringLiteral("ReadAlias"));
    alias << QStringLiteral("default");
    const QDBusReply<QDBusObjectPath> collection = QDBusConnection::sessionBus().call(alias);
    EXPECT_TRUE(collection.isValid()) << collection.error().message().toStdString();
    return collection.value();
}

// The number of secrets in the keyring's default collection, asked of the
// Secret Service itself.
int secretsInTheKeyring()
{
    QDBusMessage get = QDBusMessage::createMethodCall(secretsName, defaultCollection().path(),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.freedesktop.Secret.Collection") << QStringLiteral("Items");
    const QDBusReply<QDBusVariant> items = QDBusConnection::sessionBus().call(get);
    EXPECT_TRUE(items.isValid()) << items.error().message().toStdString();
    return qdbus_cast<QList<QDBusObjectPath>>(items.value().variant()).size();
}

TEST(DesktopKeyring, WritesReadsAndRemovesEntries)
{
    const auto keyring = desktopKeyring();
    ASSERT_EQ(keyring->status(), Status::Available);
    const QString key = QStringLiteral("Password");

    EXPECT_EQ(keyring->read(key), std::optional<QString>(QString())); // no entry yet
    const int secretsBefore = secretsInTheKeyring();
    ASSERT_TRUE(keyring->write(key, sitePassword)) << keyring->lastError().toStdString();
    EXPECT_EQ(secretsInTheKeyring(), secretsBefore + 1);
    EXPECT_EQ(keyring->read(key), std::optional<QString>(sitePassword));
    // Another program's view of the same keyring: a keyring object of its own.
    EXPECT_EQ(desktopKeyring()->read(key), std::optional<QString>(sitePassword));
    EXPECT_EQ(
        desktopKeyring(QStringLiteral("Another program"))->read(key), std::optional<QString>(QString()));

    ASSERT_TRUE(keyring->write(key, QStringLiteral("replaced")));
    EXPECT_EQ(keyring->read(key), std::optional<QString>(QStringLiteral("replaced")));

    EXPECT_EQ(secretsInTheKeyring(), secretsBefore + 1); // replaced, not added

    EXPECT_TRUE(keyring->remove(key)) << keyring->lastError().toStdString();
    EXPECT_EQ(secretsInTheKeyring(), secretsBefore);
    EXPECT_EQ(keyring->read(key), std::optional<QString>(QString()));
    EXPECT_TRUE(keyring->remove(key)); // nothing left to remove is no failure
}

// A keyring daemon that was restarted while the program runs (a crash, an
// update, a new login) is found again on the next use. The script gives the
// command that restarts it.
TEST(RestartedDesktopKeyring, IsFoundAgainAfterItsDaemonRestarted)
{
    const QByteArray restart = qgetenv("TASKHAUL_TEST_RESTART_KEYRING");
    if (restart.isEmpty())
        GTEST_SKIP() << "run by run_with_secret_service.sh";
    const auto keyring = desktopKeyring(testService);
    const QString key = QStringLiteral("Proxypassword");
    ASSERT_TRUE(keyring->write(key, proxyPassword)) << keyring->lastError().toStdString();
    ASSERT_EQ(keyring->read(key), std::optional<QString>(proxyPassword));

    ASSERT_EQ(std::system(restart.constData()), 0);

    // The same keyring object (and the store's, which lives as long as the
    // window) writes and reads with the new daemon.
    EXPECT_EQ(keyring->status(), Status::Available);
    EXPECT_TRUE(keyring->write(key, QStringLiteral("after the restart")))
        << keyring->lastError().toStdString();
    EXPECT_EQ(keyring->read(key), std::optional<QString>(QStringLiteral("after the restart")))
        << keyring->lastError().toStdString();
    EXPECT_TRUE(keyring->remove(key));
}

TEST(DesktopKeyring, StoreKeepsTheJobsPasswordsThereWhileTheOptionIsOn)
{
    const StoreFile file;
    const SettingsStore store(file.path(), LongTimeFormat {}, desktopKeyring());
    const auto keyring = desktopKeyring();

    EXPECT_EQ(store.save(job(true)).keyringWarning, QString());
    EXPECT_EQ(file.stored("Password"), QString());
    EXPECT_EQ(file.stored("Proxypassword"), QString());
    EXPECT_EQ(keyring->read(QStringLiteral("Password")), std::optional<QString>(sitePassword));
    EXPECT_EQ(keyring->read(QStringLiteral("Proxypassword")), std::optional<QString>(proxyPassword));

    // A later run of the program, with a store of its own.
    const LoadResult loaded
        = SettingsStore(file.path(), LongTimeFormat {}, desktopKeyring()).load(JobSettings {});
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.keyringWarning, QString());
    EXPECT_EQ(loaded.settings, job(true));

    // Option off: back into the file, out of the keyring.
    EXPECT_EQ(store.save(job(false)).keyringWarning, QString());
    EXPECT_EQ(file.stored("Password"), scramblePassword(sitePassword));
    EXPECT_EQ(keyring->read(QStringLiteral("Password")), std::optional<QString>(QString()));
    EXPECT_EQ(keyring->read(QStringLiteral("Proxypassword")), std::optional<QString>(QString()));
    EXPECT_EQ(store.load(JobSettings {}).settings, job(false));
}

// Whether this process has the file at `path` loaded.
bool loaded(const QString& path)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    EXPECT_TRUE(maps.open(QIODevice::ReadOnly));
    return maps.readAll().contains(path.toUtf8());
}

TEST(DesktopKeyring, ItsModuleIsLoadedOnlyOnceAJobKeepsItsPasswordsThere)
{
    // A copy of its own, so that what other tests loaded does not count.
    const QTemporaryDir dir;
    const QString module = dir.filePath(QStringLiteral("taskhaul-keyring.so"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TASKHAUL_KEYRING_MODULE), module));
    const StoreFile file;
    const SettingsStore store(file.path(), LongTimeFormat {}, makeDesktopKeyring(testService, module));

    EXPECT_EQ(store.save(job(false)).keyringWarning, QString());
    EXPECT_TRUE(store.load(JobSettings {}).ok());
    EXPECT_FALSE(loaded(module));

    EXPECT_EQ(store.save(job(true)).keyringWarning, QString());
    EXPECT_TRUE(loaded(module));
    EXPECT_EQ(store.load(JobSettings {}).settings, job(true));
    EXPECT_EQ(store.save(job(false)).keyringWarning, QString()); // takes the entries out again
}

// Locks the default collection, as the desktop does on a screen lock or a timeout.
void lockTheKeyring()
{
    QDBusMessage lock
        = QDBusMessage::createMethodCall(secretsName, secretsPath, secretService, QStringLiteral("Lock"));
    lock << QVariant::fromValue(QList<QDBusObjectPath> { defaultCollection() });
    const QDBusMessage reply = QDBusConnection::sessionBus().call(lock);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
}

TEST(LockedDesktopKeyring, LoadGivesEmptyPasswordsAndSaysTheKeyringIsLocked)
{
    const StoreFile file;
    const SettingsStore store(file.path(), LongTimeFormat {}, desktopKeyring());
    ASSERT_EQ(store.save(job(true)).keyringWarning, QString());

    lockTheKeyring();
    EXPECT_EQ(desktopKeyring()->status(), Status::Locked);

    const LoadResult loaded
        = SettingsStore(file.path(), LongTimeFormat {}, desktopKeyring()).load(JobSettings {});
    EXPECT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.keyringWarning,
        QStringLiteral("The desktop keyring is locked; the passwords could not be read."));
    EXPECT_EQ(loaded.settings.password, QString());
    EXPECT_EQ(loaded.settings.proxyPassword, QString());
    EXPECT_EQ(loaded.settings.host, job(true).host);

    // A job saved now keeps its passwords in the file.
    const StoreFile other;
    const SettingsStore otherStore(other.path(), LongTimeFormat {}, desktopKeyring());
    EXPECT_EQ(otherStore.save(job(true)).keyringWarning,
        QStringLiteral("The desktop keyring is locked; the passwords stay scrambled in the settings file."));
    EXPECT_EQ(other.stored("Password"), scramblePassword(sitePassword));
    EXPECT_EQ(otherStore.load(JobSettings {}).settings, job(true));
}

TEST(NoDesktopKeyring, StoreSaysNoKeyringIsAvailableAndKeepsThePasswordsInTheFile)
{
    const auto keyring = desktopKeyring();
    EXPECT_EQ(keyring->status(), Status::Absent);

    // Asked anyway, it fails at once rather than claiming an empty entry or success.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(keyring->read(QStringLiteral("Password")), std::nullopt);
    EXPECT_FALSE(keyring->write(QStringLiteral("Password"), sitePassword));
    EXPECT_FALSE(keyring->lastError().isEmpty());
    EXPECT_LT(clock.elapsed(), 5000);

    const StoreFile file;
    const SettingsStore store(file.path(), LongTimeFormat {}, keyring);
    EXPECT_EQ(store.save(job(true)).keyringWarning,
        QStringLiteral(
            "No desktop keyring is available; the passwords stay scrambled in the settings file."));
    EXPECT_EQ(file.stored("Password"), scramblePassword(sitePassword));
    EXPECT_EQ(store.load(JobSettings {}).settings, job(true));

    // A job whose passwords went to a keyring on another session loads without them.
    QSettings(file.path(), QSettings::IniFormat).setValue(QStringLiteral("Options/Password"), QString());
    const LoadResult loaded = store.load(JobSettings {});
    EXPECT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.keyringWarning,
        QStringLiteral("No desktop keyring is available; the passwords could not be read."));
    EXPECT_EQ(loaded.settings.password, QString());
    EXPECT_EQ(loaded.settings.proxyPassword, proxyPassword);
}

} // namespace
} // namespace taskhaul
