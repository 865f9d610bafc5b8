#include "settings/password_scrambler.h"
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace taskhaul {
namespace {

using FileKind = JobSettings::FileKind;
using ScheduleKind = JobSettings::ScheduleKind;

LongTimeFormat usTimeFormat()
{
    LongTimeFormat f;
    f.leadingZeroHour = false;
    f.twelveHour = true;
    f.amDesignator = QStringLiteral("AM");
    f.pmDesignator = QStringLiteral("PM");
    return f;
}

// A host key fingerprint as OpenSSH shows it.
const QString hostKey = QStringLiteral("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s");

// Every field away from its initial value.
JobSettings everyFieldChanged()
{
    JobSettings j;
    j.host = QStringLiteral("ftp.example.org");
    j.port = QStringLiteral("2121");
    j.remoteFolder = QStringLiteral("/pub/daily reports");
    j.userName = QStringLiteral("anna");
    j.password = QStringLiteral("pässwörd"); // scrambles to a 0 byte
    j.localFolder = QStringLiteral("/home/anna/in, out");
    j.fileKind = FileKind::AllFiles;
    j.fileName = QStringLiteral("report_[yyyy][MM][dd]*.csv");
    j.rename = true;
    j.renameTo = QStringLiteral("@r_[seq].csv");
    j.scheduleKind = ScheduleKind::Interval;
    j.dailyTime = QTime(14, 5, 9);
    j.intervalMinutes = 527040;
    j.proxyType = 5;
    j.proxyHost = QStringLiteral("proxy.example.org");
    j.proxyPort = QStringLiteral("8021");
    j.proxyUserName = QStringLiteral("proxy user");
    j.proxyPassword = QStringLiteral("o;=\"x\"");
    j.passive = true;
    j.overwrite = false;
    j.autoLoad = true;
    j.autoStart = true;
    j.minimized = true;
    j.resetSequence = true;
    j.sequenceStart = 999999;
    j.startAtLogin = true;
    j.notifySuccess = true;
    j.onlyNewer = true;
    j.retries = 10;
    j.retryDelayMinutes = 60;
    j.settleSeconds = 90;
    j.useKeyring = true;
    j.security = JobSettings::Security::Implicit;
    j.trustedCertificate = QString(64, QLatin1Char('A'));
    j.protocol = JobSettings::Protocol::Sftp;
    j.keyFile = QStringLiteral("/home/anna/.ssh/id_ed25519");
    j.keyPassphrase = QStringLiteral("kéy phrase");
    j.trustedHostKey = hostKey;
    j.connections = 3;
    return j;
}

// A window whose fields differ from both the initial values and the stored job,
// so that "unchanged" and "default" can be told apart.
JobSettings windowValues()
{
    JobSettings j;
    j.host = QStringLiteral("window-host");
    j.port = QStringLiteral("99");
    j.remoteFolder = QStringLiteral("window-remote");
    j.userName = QStringLiteral("window-user");
    j.password = QStringLiteral("window-password");
    j.localFolder = QStringLiteral("/window/folder");
    j.fileName = QStringLiteral("window-file");
    j.rename = true;
    j.renameTo = QStringLiteral("window-rename");
    j.dailyTime = QTime(1, 2, 3);
    j.intervalMinutes = 5;
    j.proxyType = 2;
    j.proxyHost = QStringLiteral("window-proxy");
    j.proxyPort = QStringLiteral("1");
    j.proxyUserName = QStringLiteral("window-proxy-user");
    j.proxyPassword = QStringLiteral("window-proxy-password");
    j.passive = true;
    j.overwrite = false;
    j.autoLoad = true;
    j.autoStart = true;
    j.minimized = true;
    j.sequenceStart = 7;
    return j;
}

class SettingsStoreTest : public ::testing::Test {
protected:
    // Writes one raw value, or removes it when `text` is empty.
    void putRaw(const QString& name, const std::optional<QVariant>& value)
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Options"));
        if (value)
            settings.setValue(name, *value);
        else
            settings.remove(name);
    }

    // The values as another program would find them in the file.
    QVariant rawFromFile(const QString& name)
    {
        const QString copy = dir.filePath(QStringLiteral("copy-%1.conf").arg(++copies));
        EXPECT_TRUE(QFile::copy(path, copy));
        return QSettings(copy, QSettings::IniFormat).value(QStringLiteral("Options/") + name);
    }

    mode_t fileMode() const
    {
        struct stat info { };
        EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        return info.st_mode & 07777;
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Velmora/Taskhaul.conf"));
    SettingsStore store { path, usTimeFormat(), nullptr }; // no keyring: the passwords stay in the file
    int copies = 0;
};

TEST_F(SettingsStoreTest, LivesInTheUsersConfigFolder)
{
    EXPECT_EQ(SettingsStore(LongTimeFormat {}, nullptr).filePath(),
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Velmora/Taskhaul.conf"));
}

TEST_F(SettingsStoreTest, SaveThenLoadReturnsEveryField)
{
    JobSettings initialButOdd; // initial values, with the cases that are easy to get wrong
    initialButOdd.proxyType = -1;
    initialButOdd.dailyTime = QTime(0, 0, 0);
    initialButOdd.port = QString();
    for (const LongTimeFormat& format : { LongTimeFormat {}, usTimeFormat() }) {
        const SettingsStore formatted(path, format, nullptr);
        for (const JobSettings& job : { everyFieldChanged(), initialButOdd }) {
            formatted.save(job);
            const LoadResult loaded = formatted.load(windowValues());
            ASSERT_TRUE(loaded.ok()) << loaded.error->what();
            EXPECT_EQ(loaded.settings, job);
            EXPECT_EQ(loaded.appliedKeys.size(), 39);
        }
    }
}

TEST_F(SettingsStoreTest, WritesEveryValueAsPlainText)
{
    store.save(everyFieldChanged());
    const std::pair<const char*, QString> expected[] = {
        { "Host", QStringLiteral("ftp.example.org") },
        { "Hostport", QStringLiteral("2121") },
        { "Remote", QStringLiteral("/pub/daily reports") },
        { "Username", QStringLiteral("anna") },
        { "Password", scramblePassword(QStringLiteral("pässwörd")) },
        { "Localdir", QStringLiteral("/home/anna/in, out") },
        { "copytype", QStringLiteral("option1") },
        { "file", QStringLiteral("report_[yyyy][MM][dd]*.csv") },
        { "renamecheck", QStringLiteral("True") },
        { "renameto", QStringLiteral("@r_[seq].csv") },
        { "starttime", QStringLiteral("2:05:09 PM") },
        { "delay", QStringLiteral("527040") },
        { "scheduletype", QStringLiteral("option2") },
        { "Proxytype", QStringLiteral("5") },
        { "Proxyhost", QStringLiteral("proxy.example.org") },
        { "Proxyport", QStringLiteral("8021") },
        { "Proxyusername", QStringLiteral("proxy user") },
        { "Proxypassword", scramblePassword(QStringLiteral("o;=\"x\"")) },
        { "passive", QStringLiteral("True") },
        { "overwrite", QStringLiteral("False") },
        { "Autoload", QStringLiteral("True") },
        { "Autostart", QStringLiteral("True") },
        { "Minimized", QStringLiteral("True") },
        { "resetsequence", QStringLiteral("True") },
        { "sequencevalue", QStringLiteral("999999") },
        { "StartAtLogin", QStringLiteral("True") },
        { "NotifySuccess", QStringLiteral("True") },
        { "OnlyNewer", QStringLiteral("True") },
        { "Retries", QStringLiteral("10") },
        { "RetryDelay", QStringLiteral("60") },
        { "SettleSeconds", QStringLiteral("90") },
        { "UseKeyring", QStringLiteral("True") },
        { "Security", QStringLiteral("implicit") },
        { "TrustedCertificate", QString(64, QLatin1Char('A')) },
        { "Protocol", QStringLiteral("sftp") },
        { "KeyFile", QStringLiteral("/home/anna/.ssh/id_ed25519") },
        { "KeyPassphrase", scramblePassword(QStringLiteral("kéy phrase")) },
        { "TrustedHostKey", hostKey },
        { "Connections", QStringLiteral("3") },
    };
    for (const auto& [name, text] : expected) {
        const QVariant raw = rawFromFile(QLatin1String(name));
        EXPECT_EQ(raw.typeId(), QMetaType::QString) << name;
        EXPECT_EQ(raw.toString(), text) << name;
    }

    JobSettings opposite;
    opposite.fileKind = FileKind::OneFile;
    opposite.scheduleKind = ScheduleKind::DailyTime;
    store.save(opposite);
    EXPECT_EQ(rawFromFile(QStringLiteral("copytype")).toString(), QStringLiteral("option2"));
    EXPECT_EQ(rawFromFile(QStringLiteral("scheduletype")).toString(), QStringLiteral("option1"));
    EXPECT_EQ(rawFromFile(QStringLiteral("Password")).toString(), QString());
    EXPECT_EQ(rawFromFile(QStringLiteral("starttime")).toString(), QStringLiteral("12:00:00 AM"));
}

// A job saved before SFTP existed is an FTP job, and saving it again writes the
// same file: the SFTP values are kept out of the file while at their defaults.
// A run keeps its sequence number in the stored job without touching the rest
// of it; with no job stored there is nothing to keep it in.
TEST_F(SettingsStoreTest, SavingTheSequenceChangesThatValueAlone)
{
    store.saveSequence(7);
    EXPECT_FALSE(QFile::exists(path));

    JobSettings job;
    job.host = QStringLiteral("ftp.example.com");
    job.userName = QStringLiteral("alice");
    job.password = QStringLiteral("secret");
    job.sequenceStart = 3;
    store.save(job);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    store.saveSequence(4);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray after = file.readAll();
    EXPECT_EQ(after.replace("sequencevalue=4", "sequencevalue=3"), before);
    job.sequenceStart = 4;
    EXPECT_EQ(store.load(JobSettings {}).settings, job);
    EXPECT_EQ(fileMode(), 0600u);
}

TEST_F(SettingsStoreTest, AJobFromBeforeSftpStaysFtpByteForByte)
{
    const auto fileBytes = [this] {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    JobSettings ftpJob = everyFieldChanged();
    ftpJob.protocol = JobSettings::Protocol::Ftp;
    ftpJob.keyFile.clear();
    ftpJob.keyPassphrase.clear();
    ftpJob.trustedHostKey.clear();
    store.save(ftpJob);
    for (const char* name : { "Protocol", "KeyFile", "KeyPassphrase", "TrustedHostKey" })
        putRaw(QLatin1String(name), std::nullopt); // as the program wrote it before
    const QByteArray before = fileBytes();
    ASSERT_FALSE(before.contains("Protocol"));

    const LoadResult loaded = store.load(everyFieldChanged());
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.settings, ftpJob);
    store.save(loaded.settings);
    EXPECT_EQ(fileBytes(), before);

    // An SFTP job switched back to FTP leaves the same file behind.
    store.save(everyFieldChanged());
    EXPECT_TRUE(fileBytes().contains("Protocol=sftp"));
    store.save(ftpJob);
    EXPECT_EQ(fileBytes(), before);

    // Each SFTP value away from its default is written on its own.
    for (const auto& [name, change] : std::initializer_list<std::pair<const char*, void (*)(JobSettings&)>> {
             { "Protocol", [](JobSettings& j) { j.protocol = JobSettings::Protocol::Sftp; } },
             { "KeyFile", [](JobSettings& j) { j.keyFile = QStringLiteral("k"); } },
             { "KeyPassphrase", [](JobSettings& j) { j.keyPassphrase = QStringLiteral("p"); } },
             { "TrustedHostKey", [](JobSettings& j) { j.trustedHostKey = hostKey; } } }) {
        JobSettings one = ftpJob;
        change(one);
        store.save(one);
        const QByteArray bytes = fileBytes();
        EXPECT_TRUE(bytes.contains(QByteArray("\n") + name + '=')) << name;
        for (const char* other : { "Protocol=", "KeyFile=", "KeyPassphrase=", "TrustedHostKey=" }) {
            if (!QByteArray(other).startsWith(name)) {
                EXPECT_FALSE(bytes.contains(other)) << name << " wrote " << other;
            }
        }
        EXPECT_EQ(store.load(JobSettings {}).settings, one) << name;
    }
}

// The number of connections is stored only when not 1, so that an old job's
// file stays byte for byte; any number is read into 1 to 8.
TEST_F(SettingsStoreTest, ConnectionsAreStoredOnlyWhenNotOne)
{
    const auto fileBytes = [this] {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    };
    JobSettings job = everyFieldChanged();
    job.connections = 1;
    store.save(job);
    const QByteArray before = fileBytes();
    EXPECT_FALSE(before.contains("Connections"));

    job.connections = 4;
    store.save(job);
    EXPECT_TRUE(fileBytes().contains("\nConnections=4"));
    EXPECT_EQ(store.load(JobSettings {}).settings, job);
    job.connections = 1;
    store.save(job);
    EXPECT_EQ(fileBytes(), before);

    for (const auto& [raw, read] : std::initializer_list<std::pair<const char*, int>> {
             { "8", 8 }, { "9", 8 }, { "0", 1 }, { "-3", 1 }, { "two", 1 }, { " 2 ", 2 } }) {
        putRaw(QStringLiteral("Connections"), QString::fromLatin1(raw));
        EXPECT_EQ(store.load(JobSettings {}).settings.connections, read) << raw;
    }
}

TEST_F(SettingsStoreTest, EveryScrambledByteValueSurvivesTheFile)
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(static_cast<char>(b));
    putRaw(QStringLiteral("Password"), storedFromBytes(bytes));
    EXPECT_EQ(bytesFromStored(rawFromFile(QStringLiteral("Password")).toString()), bytes);
}

TEST_F(SettingsStoreTest, FileIsReadableByItsOwnerOnly)
{
    store.save(JobSettings {});
    EXPECT_EQ(fileMode(), 0600u);

    ASSERT_TRUE(QFile::setPermissions(path,
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    ASSERT_EQ(fileMode(), 0644u);
    store.save(everyFieldChanged());
    EXPECT_EQ(fileMode(), 0600u);
}

TEST_F(SettingsStoreTest, SaveThatCannotWriteRaisesTheStoresError)
{
    QFile blocker(dir.filePath(QStringLiteral("Velmora"))); // a file where the folder belongs
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        store.save(everyFieldChanged());
        FAIL() << "no error";
    } catch (const SettingsError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("Failed to set data for 'Host'"));
    }
}

// What keeps a file from holding a job is named, with the file; a missing file
// and a saved one have no problem.
TEST_F(SettingsStoreTest, AFileThatCannotHoldAJobIsNamedWithItsCause)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        QString problem; // after the path; empty: none
    };
    const auto writeRaw = [this](const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };
    const Case cases[] {
        { "missing", [] {}, {} },
        { "saved by the program", [this] { store.save(everyFieldChanged()); }, {} },
        { "a folder", [this] { QDir().mkpath(path); }, QStringLiteral(" cannot be read: it is a folder") },
        { "binary", [&] { writeRaw(QByteArray("[Options]\nHost=a\0\x01\xff", 20)); },
            QStringLiteral(" is not a settings file") },
        { "text of another kind", [&] { writeRaw("#!/bin/sh\necho hello\n"); },
            QStringLiteral(" is not a settings file") },
        { "empty", [&] { writeRaw(""); }, QStringLiteral(" is not a settings file") },
        { "without the host",
            [this] {
                store.save(everyFieldChanged());
                putRaw(QStringLiteral("Host"), std::nullopt);
            },
            QStringLiteral(" lacks the key Host") },
        { "without the daily time",
            [this] {
                store.save(everyFieldChanged());
                putRaw(QStringLiteral("starttime"), std::nullopt);
            },
            QStringLiteral(" lacks the key starttime") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dir.filePath(QStringLiteral("Velmora"))).removeRecursively();
        QDir().mkpath(dir.filePath(QStringLiteral("Velmora")));
        c.make();
        EXPECT_EQ(store.fileProblem(), c.problem.isEmpty() ? QString() : path + c.problem);
    }

    // A file its reader may not open (the permission is no bar to root).
    store.save(everyFieldChanged());
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
    if (::geteuid() != 0) {
        EXPECT_EQ(store.fileProblem(), path + QStringLiteral(" cannot be read: permission denied"));
    }
}

TEST_F(SettingsStoreTest, LoadingAnEmptyStoreStopsAtTheDailyTime)
{
    const JobSettings window = windowValues();
    const LoadResult loaded = store.load(window);

    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error->message(), QStringLiteral("'' is not a valid time"));
    EXPECT_EQ(loaded.appliedKeys.last(), QStringLiteral("renameto"));
    EXPECT_FALSE(loaded.applied(QStringLiteral("starttime")));

    JobSettings expected = window;
    expected.autoLoad = expected.autoStart = expected.minimized = false;
    expected.port = QStringLiteral("21");
    expected.rename = false;
    EXPECT_EQ(loaded.settings, expected); // the proxy and later fields are not touched
}

// One stored value changed against a complete store; the load must give the
// stored job with `adjust` applied.
struct ValueCase {
    const char* name;
    std::optional<QVariant> raw; // nothing: the value is missing
    std::function<void(JobSettings&)> adjust;
};

TEST_F(SettingsStoreTest, LoadAppliesEachValuesRules)
{
    const JobSettings stored = everyFieldChanged();
    const JobSettings window = windowValues();
    const auto text = [](const char* t) { return std::optional<QVariant>(QString::fromUtf8(t)); };
    const std::optional<QVariant> missing;
    const ValueCase cases[] = {
        // Yes/no: yes only for "True", except these two, which are no only for "False".
        { "overwrite", text("false"), [](JobSettings& j) { j.overwrite = true; } },
        { "overwrite", missing, [](JobSettings& j) { j.overwrite = true; } },
        { "resetsequence", text("no"), [](JobSettings& j) { j.resetSequence = true; } },
        { "resetsequence", text("False"), [](JobSettings& j) { j.resetSequence = false; } },
        { "passive", text("true"), [](JobSettings& j) { j.passive = false; } },
        { "passive", missing, [](JobSettings& j) { j.passive = false; } },
        { "renamecheck", text("TRUE"), [](JobSettings& j) { j.rename = false; } },
        { "Autostart", text("true"), [](JobSettings& j) { j.autoStart = false; } },
        // Choices: anything but "option1"/"option2" keeps the window's choice.
        { "copytype", text("option2"), [](JobSettings& j) { j.fileKind = FileKind::OneFile; } },
        { "copytype", text("Option1"), [&](JobSettings& j) { j.fileKind = window.fileKind; } },
        { "scheduletype", missing, [&](JobSettings& j) { j.scheduleKind = window.scheduleKind; } },
        // Texts: missing keeps the field, or takes the fixed default.
        { "Host", missing, [&](JobSettings& j) { j.host = window.host; } },
        { "Password", missing, [&](JobSettings& j) { j.password = window.password; } },
        { "Hostport", missing, [](JobSettings& j) { j.port = QStringLiteral("21"); } },
        { "Hostport", text(""), [](JobSettings& j) { j.port = QString(); } },
        { "Proxyhost", missing, [](JobSettings& j) { j.proxyHost = QString(); } },
        { "Proxypassword", missing, [](JobSettings& j) { j.proxyPassword = QString(); } },
        { "Proxyport", missing, [](JobSettings& j) { j.proxyPort = QStringLiteral("0"); } },
        { "Proxyport", text(""), [](JobSettings& j) { j.proxyPort = QStringLiteral("0"); } },
        // Proxy type: not a number selects the first entry, beyond the list none.
        { "Proxytype", text("abc"), [](JobSettings& j) { j.proxyType = 0; } },
        { "Proxytype", missing, [](JobSettings& j) { j.proxyType = 0; } },
        { "Proxytype", text("3"), [](JobSettings& j) { j.proxyType = 3; } },
        { "Proxytype", text("6"), [](JobSettings& j) { j.proxyType = -1; } },
        { "Proxytype", text("-1"), [](JobSettings& j) { j.proxyType = -1; } },
        // Numbers are clamped into their ranges; a missing interval keeps the field.
        { "delay", text("0"), [](JobSettings& j) { j.intervalMinutes = 1; } },
        { "delay", text("999999999"), [](JobSettings& j) { j.intervalMinutes = 527040; } },
        { "delay", text(" +45 "), [](JobSettings& j) { j.intervalMinutes = 45; } },
        // Later options: a file written before they existed gets their defaults.
        { "OnlyNewer", missing, [](JobSettings& j) { j.onlyNewer = false; } },
        { "Retries", missing, [](JobSettings& j) { j.retries = 0; } },
        { "Retries", text("99"), [](JobSettings& j) { j.retries = 10; } },
        { "RetryDelay", missing, [](JobSettings& j) { j.retryDelayMinutes = 5; } },
        { "RetryDelay", text("0"), [](JobSettings& j) { j.retryDelayMinutes = 1; } },
        { "SettleSeconds", missing, [](JobSettings& j) { j.settleSeconds = 0; } },
        { "UseKeyring", text("true"), [](JobSettings& j) { j.useKeyring = false; } },
        { "Security", missing, [](JobSettings& j) { j.security = JobSettings::Security::Plain; } },
        { "Security", text("explicit"),
            [](JobSettings& j) { j.security = JobSettings::Security::Explicit; } },
        { "Security", text("tls"), [](JobSettings& j) { j.security = JobSettings::Security::Plain; } },
        { "TrustedCertificate", text("abc"), [](JobSettings& j) { j.trustedCertificate.clear(); } },
        // SFTP: anything but "sftp" is FTP; a host key counts only in OpenSSH's whole form.
        { "Protocol", missing, [](JobSettings& j) { j.protocol = JobSettings::Protocol::Ftp; } },
        { "Protocol", text("SFTP"), [](JobSettings& j) { j.protocol = JobSettings::Protocol::Ftp; } },
        { "Protocol", text("ssh"), [](JobSettings& j) { j.protocol = JobSettings::Protocol::Ftp; } },
        { "KeyFile", missing, [](JobSettings& j) { j.keyFile.clear(); } },
        { "KeyPassphrase", missing, [](JobSettings& j) { j.keyPassphrase.clear(); } },
        { "TrustedHostKey", missing, [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "TrustedHostKey", text("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s="),
            [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "TrustedHostKey", text("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2"),
            [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "TrustedHostKey", text("sha256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s"),
            [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "TrustedHostKey", text("SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3t-2s"),
            [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "TrustedHostKey", text(" SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s"),
            [](JobSettings& j) { j.trustedHostKey.clear(); } },
        { "delay", missing, [&](JobSettings& j) { j.intervalMinutes = window.intervalMinutes; } },
        { "sequencevalue", text("-5"), [](JobSettings& j) { j.sequenceStart = 0; } },
        { "sequencevalue", text("1000000"), [](JobSettings& j) { j.sequenceStart = 999999; } },
        // The daily time is read in any of the accepted forms.
        { "starttime", text("07:30"), [](JobSettings& j) { j.dailyTime = QTime(7, 30); } },
        { "starttime", text("19:30:01"), [](JobSettings& j) { j.dailyTime = QTime(19, 30, 1); } },
    };
    for (const ValueCase& c : cases) {
        store.save(stored);
        putRaw(QLatin1String(c.name), c.raw);
        JobSettings expected = stored;
        c.adjust(expected);
        const LoadResult loaded = store.load(window);
        const std::string label
            = std::string(c.name) + " = " + (c.raw ? c.raw->toString().toStdString() : "(missing)");
        ASSERT_TRUE(loaded.ok()) << label << ": " << loaded.error->what();
        EXPECT_EQ(loaded.settings, expected) << label;
    }
}

struct FailureCase {
    const char* name;
    std::optional<QVariant> raw;
    const char* message;
    const char* lastApplied;
};

TEST_F(SettingsStoreTest, LoadStopsAtAFailingValueKeepingWhatItApplied)
{
    const JobSettings stored = everyFieldChanged();
    const JobSettings window = windowValues();
    const FailureCase cases[] = {
        { "starttime", QString(QStringLiteral("25:00:00")), "'25:00:00' is not a valid time", "renameto" },
        { "delay", QString(QStringLiteral("abc")), "'abc' is not a valid integer value", "starttime" },
        { "delay", QString(QStringLiteral("1.5")), "'1.5' is not a valid integer value", "starttime" },
        { "sequencevalue", std::nullopt, "'' is not a valid integer value", "resetsequence" },
        { "sequencevalue", QString(QStringLiteral("99999999999")),
            "'99999999999' is not a valid integer value", "resetsequence" },
        { "Remote", QStringList { QStringLiteral("a"), QStringLiteral("b") },
            "Invalid data type for 'Remote'", "Hostport" },
        { "Autoload", QByteArray("\x01\x02"), "Invalid data type for 'Autoload'", nullptr },
    };
    for (const FailureCase& c : cases) {
        store.save(stored);
        putRaw(QLatin1String(c.name), c.raw);
        const LoadResult loaded = store.load(window);
        ASSERT_FALSE(loaded.ok()) << c.name;
        EXPECT_EQ(loaded.error->message(), QString::fromLatin1(c.message));
        if (c.lastApplied)
            EXPECT_EQ(loaded.appliedKeys.last(), QLatin1String(c.lastApplied));
        else
            EXPECT_TRUE(loaded.appliedKeys.isEmpty());

        // Values before the failing one come from the store, the rest stay as they were.
        const auto loadedBefore = [&](int position) { return loaded.appliedKeys.size() > position; };
        EXPECT_EQ(loaded.settings.host, loadedBefore(3) ? stored.host : window.host) << c.name;
        EXPECT_EQ(loaded.settings.dailyTime, loadedBefore(13) ? stored.dailyTime : window.dailyTime)
            << c.name;
        EXPECT_EQ(loaded.settings.intervalMinutes,
            loadedBefore(14) ? stored.intervalMinutes : window.intervalMinutes)
            << c.name;
        EXPECT_EQ(
            loaded.settings.resetSequence, loadedBefore(23) ? stored.resetSequence : window.resetSequence)
            << c.name;
    }
}

TEST_F(SettingsStoreTest, StartupOptionsAreOnOnlyForTrue)
{
    EXPECT_EQ(store.readStartupOptions(), StartupOptions {}); // no store at all

    putRaw(QStringLiteral("Autoload"), QString(QStringLiteral("True")));
    putRaw(QStringLiteral("Autostart"), QString(QStringLiteral("true")));
    putRaw(QStringLiteral("Minimized"), QStringList { QStringLiteral("True"), QStringLiteral("True") });
    EXPECT_EQ(store.readStartupOptions(), (StartupOptions { true, false, false }));

    putRaw(QStringLiteral("Autoload"), std::nullopt);
    putRaw(QStringLiteral("Autostart"), QString(QStringLiteral("True")));
    putRaw(QStringLiteral("Minimized"), QString(QStringLiteral("True")));
    EXPECT_EQ(store.readStartupOptions(), (StartupOptions { false, true, true }));
}

TEST(ClearAll, ResetsTheJobButKeepsTheIntervalAndSequence)
{
    const JobSettings before = everyFieldChanged();
    const JobSettings cleared = clearedJobSettings(before, QTime(16, 45, 30, 250));

    JobSettings expected; // initial values ...
    expected.intervalMinutes = before.intervalMinutes; // ... except these three
    expected.sequenceStart = before.sequenceStart;
    expected.resetSequence = before.resetSequence;
    expected.dailyTime = QTime(16, 45, 30);
    EXPECT_EQ(cleared, expected);
    EXPECT_EQ(cleared.port, QStringLiteral("21"));
    EXPECT_EQ(cleared.proxyPort, QStringLiteral("0"));
    EXPECT_TRUE(cleared.overwrite);
    EXPECT_EQ(cleared.fileKind, FileKind::OneFile);
    EXPECT_EQ(cleared.scheduleKind, ScheduleKind::DailyTime);
}

} // namespace
} // namespace taskhaul
