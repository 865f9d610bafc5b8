// The store with the job's passwords in a keyring (a recording fake here; the
// desktop keyring itself is tested in desktop_keyring_test.cpp).
#include "fake_keyring.h"
#include "settings/password_scrambler.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

namespace taskhaul {
namespace {

using Status = PasswordKeyring::Status;

const QString sitePassword = QStringLiteral("site sécret");
const QString proxyPassword = QStringLiteral("proxy secret");

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

// What the window holds before a load: other passwords than the stored ones.
JobSettings window()
{
    JobSettings j;
    j.password = QStringLiteral("window password");
    j.proxyPassword = QStringLiteral("window proxy password");
    return j;
}

class KeyringStoreTest : public ::testing::Test {
protected:
    // A stored value as another program would find it in the file.
    QString stored(const char* name)
    {
        const QString copy = dir.filePath(QStringLiteral("copy-%1.conf").arg(++copies));
        EXPECT_TRUE(QFile::copy(path, copy));
        return QSettings(copy, QSettings::IniFormat)
            .value(QStringLiteral("Options/") + QLatin1String(name))
            .toString();
    }

    QByteArray fileBytes() const
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    // The file holds both passwords scrambled, exactly as without a keyring.
    void expectScrambledInFile(const JobSettings& j)
    {
        EXPECT_EQ(stored("Password"), scramblePassword(j.password));
        EXPECT_EQ(stored("Proxypassword"), scramblePassword(j.proxyPassword));
    }

    // The keyring alone holds the passwords, and the file's texts are empty.
    void expectInKeyringOnly(const JobSettings& j)
    {
        EXPECT_EQ(keyring->entries.value(QStringLiteral("Password")), j.password);
        EXPECT_EQ(keyring->entries.value(QStringLiteral("Proxypassword")), j.proxyPassword);
        EXPECT_EQ(stored("Password"), QString());
        EXPECT_EQ(stored("Proxypassword"), QString());
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Taskhaul.conf"));
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();
    SettingsStore store { path, LongTimeFormat {}, keyring };
    int copies = 0;
};

TEST_F(KeyringStoreTest, OptionOnMovesThePasswordsIntoTheKeyringAndLoadReadsThemBack)
{
    const SaveResult saved = store.save(job(true));
    EXPECT_EQ(saved.keyringWarning, QString());
    expectInKeyringOnly(job(true));
    EXPECT_EQ(stored("UseKeyring"), QStringLiteral("True"));

    keyring->calls.clear();
    const LoadResult loaded = store.load(window());
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.keyringWarning, QString());
    EXPECT_EQ(loaded.settings, job(true));
    EXPECT_EQ(keyring->accesses(), (QStringList { "read Password", "read Proxypassword" }));

    // A job loaded by another store (another run of the program) reads the same.
    const LoadResult again = SettingsStore(path, LongTimeFormat {}, keyring).load(window());
    EXPECT_EQ(again.settings, job(true));
}

TEST_F(KeyringStoreTest, OptionOffWritesTheFileAsWithoutAKeyringAndLeavesTheKeyringAlone)
{
    SettingsStore(path, LongTimeFormat {}, nullptr).save(job(false));
    const QByteArray withoutKeyring = fileBytes();
    expectScrambledInFile(job(false));

    for (const Status state : { Status::Available, Status::Locked, Status::Absent, Status::Missing }) {
        QFile::remove(path);
        keyring->state = state;
        keyring->calls.clear();
        keyring->entries = { { QStringLiteral("Password"), QStringLiteral("someone else's") } };

        EXPECT_EQ(store.save(job(false)).keyringWarning, QString());
        EXPECT_EQ(fileBytes(), withoutKeyring);

        const LoadResult loaded = store.load(window());
        EXPECT_EQ(loaded.settings, job(false));
        EXPECT_EQ(loaded.keyringWarning, QString());
        EXPECT_EQ(keyring->calls, QStringList());
        EXPECT_EQ(keyring->entries.size(), 1);
    }
}

struct UnusableKeyring {
    const char* what;
    Status state;
    bool failEntries;
    const char* onLoad;
    const char* onSave;
    const char* reason = "refused by the test";
};

const UnusableKeyring unusableKeyrings[] = {
    { "locked", Status::Locked, false, "The desktop keyring is locked; the passwords could not be read.",
        "The desktop keyring is locked; the passwords stay scrambled in the settings file." },
    { "absent", Status::Absent, false, "No desktop keyring is available; the passwords could not be read.",
        "No desktop keyring is available; the passwords stay scrambled in the settings file." },
    { "failing", Status::Available, true,
        "The desktop keyring could not be read (refused by the test); the passwords could not be read.",
        "The passwords could not be stored in the desktop keyring (refused by the test); they stay scrambled "
        "in "
        "the settings file." },
    // A failure without a reason is said without one, never as "()".
    { "failing silently", Status::Available, true,
        "The desktop keyring could not be read; the passwords could not be read.",
        "The passwords could not be stored in the desktop keyring; they stay scrambled in the settings file.",
        "" },
    { "missing", Status::Missing, false,
        "The desktop keyring cannot be used (refused by the test); the passwords could not be read.",
        "The desktop keyring cannot be used (refused by the test); the passwords stay scrambled in the "
        "settings file." },
};

TEST_F(KeyringStoreTest, UnreadableKeyringGivesEmptyPasswordsAndSaysWhy)
{
    for (const UnusableKeyring& k : unusableKeyrings) {
        keyring->state = Status::Available;
        keyring->failingReads.clear();
        store.save(job(true));

        keyring->error = QString::fromUtf8(k.reason);
        keyring->state = k.state;
        if (k.failEntries)
            keyring->failingReads = { QStringLiteral("Proxypassword") };
        const LoadResult loaded = store.load(window());

        EXPECT_TRUE(loaded.ok()) << k.what;
        EXPECT_EQ(loaded.keyringWarning, QString::fromUtf8(k.onLoad));
        JobSettings expected = job(true);
        expected.proxyPassword.clear(); // never the window's: the stored job has one
        if (!k.failEntries)
            expected.password.clear();
        EXPECT_EQ(loaded.settings, expected) << k.what;
    }

    // A store built without any keyring reports it as absent.
    const LoadResult noKeyring = SettingsStore(path, LongTimeFormat {}, nullptr).load(window());
    EXPECT_EQ(noKeyring.keyringWarning, QString::fromUtf8(unusableKeyrings[1].onLoad));
    EXPECT_EQ(noKeyring.settings.password, QString());
}

TEST_F(KeyringStoreTest, UnwritableKeyringKeepsThePasswordsScrambledInTheFile)
{
    for (const UnusableKeyring& k : unusableKeyrings) {
        QFile::remove(path);
        keyring->entries.clear();
        keyring->error = QString::fromUtf8(k.reason);
        keyring->state = k.state;
        if (k.failEntries)
            keyring->failingWrites = { QStringLiteral("Proxypassword") };

        EXPECT_EQ(store.save(job(true)).keyringWarning, QString::fromUtf8(k.onSave));
        expectScrambledInFile(job(true));

        // The file's passwords are used, whatever the keyring holds by now.
        keyring->state = Status::Available;
        keyring->entries.insert(QStringLiteral("Password"), QStringLiteral("stale"));
        keyring->calls.clear();
        const LoadResult loaded = store.load(window());
        EXPECT_EQ(loaded.settings, job(true)) << k.what;
        EXPECT_EQ(loaded.keyringWarning, QString());
        EXPECT_EQ(keyring->calls, QStringList()) << k.what;
    }
}

TEST_F(KeyringStoreTest, KeyringModuleThatCannotBeLoadedIsNamedInTheWarning)
{
    const QString absent = dir.filePath(QStringLiteral("absent/taskhaul-keyring.so"));
    const QString notAModule = dir.filePath(QStringLiteral("taskhaul-keyring.so"));
    QFile text(notAModule);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not a shared object\n");
    text.close();

    for (const QString& module : { absent, notAModule }) {
        QFile::remove(path);
        const auto desktop = makeDesktopKeyring(QStringLiteral("Taskhaul keyring test"), module);
        EXPECT_EQ(desktop->status(), Status::Missing);
        const QString warning
            = SettingsStore(path, LongTimeFormat {}, desktop).save(job(true)).keyringWarning;
        EXPECT_TRUE(warning.startsWith(QStringLiteral("The desktop keyring cannot be used (its module could "
                                                      "not be loaded: ")))
            << warning.toStdString();
        EXPECT_TRUE(warning.contains(module)) << warning.toStdString();
        EXPECT_TRUE(warning.endsWith(QStringLiteral("); the passwords stay scrambled in the settings file.")))
            << warning.toStdString();
        expectScrambledInFile(job(true));
    }
}

TEST_F(KeyringStoreTest, SwitchingOnAndOffNeverLosesAPassword)
{
    store.save(job(false));
    expectScrambledInFile(job(false));

    for (int round = 0; round < 2; ++round) {
        JobSettings on = store.load(window()).settings;
        on.useKeyring = true;
        EXPECT_EQ(store.save(on).keyringWarning, QString());
        expectInKeyringOnly(job(true));
        EXPECT_EQ(store.load(window()).settings, job(true));

        JobSettings off = store.load(window()).settings;
        off.useKeyring = false;
        EXPECT_EQ(store.save(off).keyringWarning, QString());
        expectScrambledInFile(job(false));
        EXPECT_TRUE(keyring->entries.isEmpty());
        EXPECT_EQ(store.load(window()).settings, job(false));
    }
}

TEST_F(KeyringStoreTest, PasswordsLeaveTheKeyringOnlyAfterTheFileHoldsThemAgain)
{
    store.save(job(true));

    // A save that cannot write the file takes nothing out of the keyring.
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_THROW(store.save(job(false)), SettingsError);
    EXPECT_EQ(keyring->entries.size(), 2);
    ASSERT_TRUE(QDir().rmdir(path));
    store.save(job(true));

    // A keyring that refuses the removal keeps them; the file has them as well.
    keyring->failingRemovals = { QStringLiteral("Password") };
    EXPECT_EQ(store.save(job(false)).keyringWarning,
        QStringLiteral("The passwords could not be removed from the desktop keyring (refused by the test)."));
    expectScrambledInFile(job(false));

    // So does a keyring that is locked by then.
    store.save(job(true));
    keyring->state = Status::Locked;
    EXPECT_EQ(store.save(job(false)).keyringWarning,
        QStringLiteral("The desktop keyring is locked; the passwords could not be removed from it."));
    expectScrambledInFile(job(false));
    EXPECT_EQ(store.load(window()).settings, job(false));
}

TEST_F(KeyringStoreTest, SavingAJobWhosePasswordsCouldNotBeReadKeepsThemInTheKeyring)
{
    store.save(job(true));
    keyring->state = Status::Locked;
    const JobSettings loadedWhileLocked = store.load(window()).settings;
    ASSERT_EQ(loadedWhileLocked.password, QString());
    keyring->state = Status::Available;

    // Saved again with the option on: the unread entries are not taken for cleared passwords.
    EXPECT_EQ(store.save(loadedWhileLocked).keyringWarning, QString());
    expectInKeyringOnly(job(true));
    EXPECT_EQ(store.load(window()).settings, job(true));

    // Saved with the option off: the file cannot hold them, so they stay in the keyring ...
    keyring->state = Status::Locked;
    JobSettings off = store.load(window()).settings;
    keyring->state = Status::Available;
    off.useKeyring = false;
    EXPECT_EQ(store.save(off).keyringWarning,
        QStringLiteral("The passwords that could not be read from the desktop keyring were left in it."));
    EXPECT_EQ(keyring->entries.size(), 2);

    // ... and come back once the option is on again.
    JobSettings on = store.load(window()).settings;
    on.useKeyring = true;
    store.save(on);
    EXPECT_EQ(store.load(window()).settings, job(true));

    // A password typed after the failed load replaces the entry.
    keyring->state = Status::Locked;
    JobSettings retyped = store.load(window()).settings;
    keyring->state = Status::Available;
    retyped.password = QStringLiteral("new one");
    store.save(retyped);
    EXPECT_EQ(keyring->entries.value(QStringLiteral("Password")), QStringLiteral("new one"));
    EXPECT_EQ(keyring->entries.value(QStringLiteral("Proxypassword")), proxyPassword);
}

TEST_F(KeyringStoreTest, AClearedPasswordLeavesTheKeyring)
{
    store.save(job(true));
    JobSettings cleared = store.load(window()).settings;
    cleared.proxyPassword.clear();
    EXPECT_EQ(store.save(cleared).keyringWarning, QString());
    EXPECT_FALSE(keyring->entries.contains(QStringLiteral("Proxypassword")));

    const LoadResult loaded = store.load(window());
    EXPECT_EQ(loaded.settings, cleared);
    EXPECT_EQ(loaded.keyringWarning, QString());

    // Also one that could not be read once, but was typed anew and loaded from the file since.
    store.save(job(true));
    keyring->state = Status::Locked;
    JobSettings retyped = store.load(window()).settings;
    retyped.proxyPassword = QStringLiteral("typed while locked");
    store.save(retyped); // stays in the file: the keyring is locked
    keyring->state = Status::Available;
    JobSettings clearedLater = store.load(window()).settings;
    ASSERT_EQ(clearedLater.proxyPassword, QStringLiteral("typed while locked"));
    clearedLater.proxyPassword.clear();
    store.save(clearedLater);
    EXPECT_FALSE(keyring->entries.contains(QStringLiteral("Proxypassword")));
    EXPECT_EQ(store.load(window()).settings, clearedLater);
}

// The SFTP key's passphrase goes with the passwords: into the keyring with the
// option on, back into the file with it off. A job without one never touches
// its entry.
TEST_F(KeyringStoreTest, TheKeyPassphraseGoesWithThePasswords)
{
    store.save(job(true));
    EXPECT_FALSE(keyring->calls.join(QLatin1Char(' ')).contains(QStringLiteral("KeyPassphrase")));
    EXPECT_FALSE(fileBytes().contains("KeyPassphrase"));

    JobSettings withKey = job(true);
    withKey.protocol = JobSettings::Protocol::Sftp;
    withKey.keyFile = QStringLiteral("/home/anna/.ssh/id_rsa");
    withKey.keyPassphrase = QStringLiteral("phrase ü");
    EXPECT_EQ(store.save(withKey).keyringWarning, QString());
    EXPECT_EQ(keyring->entries.value(QStringLiteral("KeyPassphrase")), withKey.keyPassphrase);
    EXPECT_TRUE(fileBytes().contains("KeyPassphrase=\n"));
    keyring->calls.clear();
    EXPECT_EQ(store.load(window()).settings, withKey);
    EXPECT_EQ(
        keyring->accesses(), (QStringList { "read Password", "read Proxypassword", "read KeyPassphrase" }));

    // Read while the keyring is locked, it stays in the keyring through a save.
    keyring->state = Status::Locked;
    const JobSettings whileLocked = store.load(window()).settings;
    ASSERT_EQ(whileLocked.keyPassphrase, QString());
    keyring->state = Status::Available;
    store.save(whileLocked);
    EXPECT_EQ(store.load(window()).settings, withKey);

    // Option off: scrambled in the file, and the entry is gone.
    JobSettings off = withKey;
    off.useKeyring = false;
    EXPECT_EQ(store.save(off).keyringWarning, QString());
    EXPECT_EQ(stored("KeyPassphrase"), scramblePassword(withKey.keyPassphrase));
    EXPECT_TRUE(keyring->entries.isEmpty());
    EXPECT_EQ(store.load(window()).settings, off);

    // A cleared passphrase leaves the keyring and the file.
    store.save(withKey);
    JobSettings cleared = withKey;
    cleared.keyPassphrase.clear();
    store.save(cleared);
    EXPECT_FALSE(keyring->entries.contains(QStringLiteral("KeyPassphrase")));
    EXPECT_FALSE(fileBytes().contains("KeyPassphrase"));
    EXPECT_EQ(store.load(window()).settings, cleared);
}

} // namespace
} // namespace taskhaul
