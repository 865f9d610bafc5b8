#include "settings/settings_store.h"

#include "settings/password_scrambler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskhaul {

namespace {

const QString optionsGroup = QStringLiteral("Options");

// ---------------------------------------------------------------------------
// Encodings

const QString yesText = QStringLiteral("True");
const QString noText = QStringLiteral("False");
const QString firstChoice = QStringLiteral("option1");
const QString secondChoice = QStringLiteral("option2");

QString yesNo(bool value)
{
    return value ? yesText : noText;
}

// A whole number as the store holds it: optional sign and decimal digits,
// blanks around it tolerated; anything else, or a number beyond int, is none.
std::optional<int> wholeNumber(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

int requireWholeNumber(const QString& text)
{
    if (const auto value = wholeNumber(text))
        return *value;
    throw SettingsError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

constexpr int minInterval = kIntervalMinutesMin;
constexpr int maxInterval = kIntervalMinutesMax;
constexpr int minSequence = 0;
constexpr int maxSequence = 999999;
constexpr int proxyTypeCount = 6;

// ---------------------------------------------------------------------------
// The store's values: name, what a missing value means, how a stored text is
// applied to the job and how the job's value is written. Load order is the
// order of this table; `savePosition` gives the order of writing.

enum class WhenMissing {
    KeepField, // the job keeps its value
    UseDefault, // `defaultText` is applied as if it had been stored
};

using Apply = void (*)(JobSettings&, const QString& text, const LongTimeFormat&);
using Write = QString (*)(const JobSettings&, const LongTimeFormat&);

struct StoredValue {
    const char* name;
    WhenMissing whenMissing;
    const char* defaultText;
    Apply apply;
    Write write;
    int savePosition;
};

// A missing yes/no or choice value reads as this text, which matches nothing.
constexpr const char* unmatched = "Error";

using Job = JobSettings;
using Format = LongTimeFormat;

const std::array<StoredValue, 39> storedValues { {
    { "Autoload", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.autoLoad = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.autoLoad); }, 19 },
    { "Autostart", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.autoStart = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.autoStart); }, 20 },
    { "Minimized", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.minimized = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.minimized); }, 21 },
    { "Host", WhenMissing::KeepField, nullptr, [](Job& j, const QString& t, const Format&) { j.host = t; },
        [](const Job& j, const Format&) { return j.host; }, 1 },
    { "Hostport", WhenMissing::UseDefault, "21", [](Job& j, const QString& t, const Format&) { j.port = t; },
        [](const Job& j, const Format&) { return j.port; }, 2 },
    { "Remote", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.remoteFolder = t; },
        [](const Job& j, const Format&) { return j.remoteFolder; }, 3 },
    { "Username", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.userName = t; },
        [](const Job& j, const Format&) { return j.userName; }, 4 },
    { "Password", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.password = unscramblePassword(t); },
        [](const Job& j, const Format&) { return scramblePassword(j.password); }, 5 },
    { "Localdir", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.localFolder = t; },
        [](const Job& j, const Format&) { return j.localFolder; }, 6 },
    { "copytype", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) {
            if (t == firstChoice)
                j.fileKind = Job::FileKind::AllFiles;
            else if (t == secondChoice)
                j.fileKind = Job::FileKind::OneFile;
        },
        [](const Job& j, const Format&) {
            return j.fileKind == Job::FileKind::AllFiles ? firstChoice : secondChoice;
        },
        7 },
    { "file", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.fileName = t; },
        [](const Job& j, const Format&) { return j.fileName; }, 8 },
    { "renamecheck", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) { j.rename = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.rename); }, 9 },
    { "renameto", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) { j.renameTo = t; },
        [](const Job& j, const Format&) { return j.renameTo; }, 10 },
    { "starttime", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format& f) {
            const auto time = f.parse(t);
            if (!time)
                throw SettingsError(QStringLiteral("'%1' is not a valid time").arg(t));
            j.dailyTime = *time;
        },
        [](const Job& j, const Format& f) { return f.format(j.dailyTime); }, 11 },
    { "delay", WhenMissing::KeepField, nullptr,
        [](Job& j, const QString& t, const Format&) {
            j.intervalMinutes = std::clamp(requireWholeNumber(t), minInterval, maxInterval);
        },
        [](const Job& j, const Format&) { return QString::number(j.intervalMinutes); }, 22 },
    { "scheduletype", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) {
            if (t == firstChoice)
                j.scheduleKind = Job::ScheduleKind::DailyTime;
            else if (t == secondChoice)
                j.scheduleKind = Job::ScheduleKind::Interval;
        },
        [](const Job& j, const Format&) {
            return j.scheduleKind == Job::ScheduleKind::DailyTime ? firstChoice : secondChoice;
        },
        23 },
    { "Proxytype", WhenMissing::UseDefault, "0",
        [](Job& j, const QString& t, const Format&) {
            // Not a number: the first entry; a number beyond the list: no entry.
            const int position = wholeNumber(t).value_or(0);
            j.proxyType = position >= 0 && position < proxyTypeCount ? position : -1;
        },
        [](const Job& j, const Format&) { return QString::number(j.proxyType); }, 12 },
    { "Proxyhost", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.proxyHost = t; },
        [](const Job& j, const Format&) { return j.proxyHost; }, 13 },
    { "Proxyport", WhenMissing::UseDefault, "0",
        [](Job& j, const QString& t, const Format&) { j.proxyPort = t.isEmpty() ? QStringLiteral("0") : t; },
        [](const Job& j, const Format&) { return j.proxyPort; }, 14 },
    { "Proxyusername", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.proxyUserName = t; },
        [](const Job& j, const Format&) { return j.proxyUserName; }, 15 },
    { "Proxypassword", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.proxyPassword = unscramblePassword(t); },
        [](const Job& j, const Format&) { return scramblePassword(j.proxyPassword); }, 16 },
    { "passive", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) { j.passive = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.passive); }, 24 },
    // The next two count as "no" only when stored as exactly "False".
    { "overwrite", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) { j.overwrite = t != noText; },
        [](const Job& j, const Format&) { return yesNo(j.overwrite); }, 25 },
    { "resetsequence", WhenMissing::UseDefault, unmatched,
        [](Job& j, const QString& t, const Format&) { j.resetSequence = t != noText; },
        [](const Job& j, const Format&) { return yesNo(j.resetSequence); }, 17 },
    { "sequencevalue", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) {
            j.sequenceStart = std::clamp(requireWholeNumber(t), minSequence, maxSequence);
        },
        [](const Job& j, const Format&) { return QString::number(j.sequenceStart); }, 18 },
    // Later options: missing from older files, where their defaults apply.
    { "StartAtLogin", WhenMissing::UseDefault, "False",
        [](Job& j, const QString& t, const Format&) { j.startAtLogin = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.startAtLogin); }, 26 },
    { "NotifySuccess", WhenMissing::UseDefault, "False",
        [](Job& j, const QString& t, const Format&) { j.notifySuccess = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.notifySuccess); }, 27 },
    { "OnlyNewer", WhenMissing::UseDefault, "False",
        [](Job& j, const QString& t, const Format&) { j.onlyNewer = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.onlyNewer); }, 28 },
    { "Retries", WhenMissing::UseDefault, "0",
        [](Job& j, const QString& t, const Format&) {
            j.retries = std::clamp(requireWholeNumber(t), 0, kRetriesMax);
        },
        [](const Job& j, const Format&) { return QString::number(j.retries); }, 29 },
    { "RetryDelay", WhenMissing::UseDefault, "5",
        [](Job& j, const QString& t, const Format&) {
            j.retryDelayMinutes
                = std::clamp(requireWholeNumber(t), kRetryDelayMinutesMin, kRetryDelayMinutesMax);
        },
        [](const Job& j, const Format&) { return QString::number(j.retryDelayMinutes); }, 30 },
    { "SettleSeconds", WhenMissing::UseDefault, "0",
        [](Job& j, const QString& t, const Format&) {
            j.settleSeconds = std::clamp(requireWholeNumber(t), 0, kSettleSecondsMax);
        },
        [](const Job& j, const Format&) { return QString::number(j.settleSeconds); }, 31 },
    { "UseKeyring", WhenMissing::UseDefault, "False",
        [](Job& j, const QString& t, const Format&) { j.useKeyring = t == yesText; },
        [](const Job& j, const Format&) { return yesNo(j.useKeyring); }, 32 },
    { "Security", WhenMissing::UseDefault, "plain",
        [](Job& j, const QString& t, const Format&) {
            j.security = t == QLatin1String("explicit") ? Job::Security::Explicit
                : t == QLatin1String("implicit")        ? Job::Security::Implicit
                                                        : Job::Security::Plain;
        },
        [](const Job& j, const Format&) {
            return j.security == Job::Security::Explicit ? QStringLiteral("explicit")
                : j.security == Job::Security::Implicit  ? QStringLiteral("implicit")
                                                         : QStringLiteral("plain");
        },
        33 },
    { "TrustedCertificate", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) {
            // Only a whole SHA-256 fingerprint counts; anything else trusts nothing.
            static const QRegularExpression sha256(QStringLiteral("^[0-9A-Fa-f]{64}$"));
            j.trustedCertificate = sha256.match(t).hasMatch() ? t.toUpper() : QString();
        },
        [](const Job& j, const Format&) { return j.trustedCertificate; }, 34 },
    // SFTP: written only when they differ from their defaults (see keptOutAtDefault),
    // so that an FTP job's file stays as it was before SFTP existed.
    { "Protocol", WhenMissing::UseDefault, "ftp",
        [](Job& j, const QString& t, const Format&) {
            j.protocol = t == QLatin1String("sftp") ? Job::Protocol::Sftp : Job::Protocol::Ftp;
        },
        [](const Job& j, const Format&) {
            return j.protocol == Job::Protocol::Sftp ? QStringLiteral("sftp") : QStringLiteral("ftp");
        },
        35 },
    { "KeyFile", WhenMissing::UseDefault, "", [](Job& j, const QString& t, const Format&) { j.keyFile = t; },
        [](const Job& j, const Format&) { return j.keyFile; }, 36 },
    { "KeyPassphrase", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) { j.keyPassphrase = unscramblePassword(t); },
        [](const Job& j, const Format&) { return scramblePassword(j.keyPassphrase); }, 37 },
    { "TrustedHostKey", WhenMissing::UseDefault, "",
        [](Job& j, const QString& t, const Format&) {
            // Only a whole fingerprint as OpenSSH shows it counts ("SHA256:" and the
            // 32 bytes in base64 without padding); anything else trusts nothing.
            static const QRegularExpression sha256(QStringLiteral("^SHA256:[A-Za-z0-9+/]{43}$"));
            j.trustedHostKey = sha256.match(t).hasMatch() ? t : QString();
        },
        [](const Job& j, const Format&) { return j.trustedHostKey; }, 38 },
    { "Connections", WhenMissing::UseDefault, "1",
        [](Job& j, const QString& t, const Format&) {
            j.connections = std::clamp(wholeNumber(t).value_or(1), 1, kConnectionsMax);
        },
        [](const Job& j, const Format&) { return QString::number(j.connections); }, 39 },
} };

// The values that came with SFTP and later are left out of the file while they
// hold their defaults: a job saved now is byte for byte the file saved before them.
bool keptOutAtDefault(const QString& name)
{
    static const QStringList names { QStringLiteral("Protocol"), QStringLiteral("KeyFile"),
        QStringLiteral("KeyPassphrase"), QStringLiteral("TrustedHostKey"), QStringLiteral("Connections") };
    return names.contains(name);
}

// ---------------------------------------------------------------------------

// The stored text of `name`; nothing when missing. A value that QSettings
// reads as something other than a string (a list, a byte array, a variant
// written by hand) is an error.
std::optional<QString> readText(const QSettings& settings, const QString& name)
{
    const QVariant value = settings.value(name);
    if (!value.isValid())
        return std::nullopt;
    if (value.typeId() != QMetaType::QString)
        throw SettingsError(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value.toString();
}

QString userStorePath()
{
    return QSettings(
        QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Velmora"), QStringLiteral("Taskhaul"))
        .fileName();
}

// Makes sure the settings file exists as a regular file readable by its owner
// only before QSettings rewrites it: QSettings keeps the mode of the file it
// replaces, so the passwords are never readable by others, not even briefly.
bool restrictToOwner(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat info { };
    const bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

// ---------------------------------------------------------------------------
// Passwords in the desktop keyring

using KeyringStatus = PasswordKeyring::Status;

const QString keyringOption = QStringLiteral("UseKeyring");
const QString sitePasswordName = QStringLiteral("Password");
const QString proxyPasswordName = QStringLiteral("Proxypassword");
const QString keyPassphraseName = QStringLiteral("KeyPassphrase");

// The secrets the keyring may hold: the two passwords and the key's passphrase.
bool isPasswordValue(const QString& name)
{
    return name == sitePasswordName || name == proxyPasswordName || name == keyPassphraseName;
}

const QString& passwordOf(const JobSettings& job, const QString& name)
{
    return name == sitePasswordName ? job.password
        : name == proxyPasswordName ? job.proxyPassword
                                    : job.keyPassphrase;
}

QString& passwordOf(JobSettings& job, const QString& name)
{
    return name == sitePasswordName ? job.password
        : name == proxyPasswordName ? job.proxyPassword
                                    : job.keyPassphrase;
}

// Whether the file stores the passphrase as an empty text: the keyring holds it
// (or held it), unlike a job without one, whose file has no such value at all.
bool passphraseInKeyringText(const QSettings& settings)
{
    const QVariant value = settings.value(keyPassphraseName);
    return value.typeId() == QMetaType::QString && value.toString().isEmpty();
}

// "The desktop keyring is locked; <consequence>" and its kin.
QString keyringUnusable(const PasswordKeyring* keyring, KeyringStatus status, const QString& consequence)
{
    QString why = QStringLiteral("No desktop keyring is available");
    if (status == KeyringStatus::Locked)
        why = QStringLiteral("The desktop keyring is locked");
    else if (status == KeyringStatus::Missing && keyring)
        why = QStringLiteral("The desktop keyring cannot be used (%1)").arg(keyring->lastError());
    return why + QStringLiteral("; ") + consequence;
}

// " (<reason>)" after a failure's description; nothing when the keyring gave none.
QString inParentheses(const QString& reason)
{
    return reason.trimmed().isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason.trimmed());
}

const QString notRead = QStringLiteral("the passwords could not be read.");
const QString keptInFile = QStringLiteral("the passwords stay scrambled in the settings file.");
const QString notRemoved = QStringLiteral("the passwords could not be removed from it.");

// The stored option, as the load will read it: on only for exactly "True".
bool keyringOptionStored(const QSettings& settings)
{
    const QVariant value = settings.value(keyringOption);
    return value.typeId() == QMetaType::QString && value.toString() == yesText;
}

// The values every saved job holds and a run cannot do without: the site and
// the folder, and those whose absence fails the load.
constexpr std::array kRequiredKeys { "Host", "Username", "Localdir", "starttime", "sequencevalue" };
// A settings file is a few kilobytes; anything much larger is something else.
constexpr qint64 kMaxSettingsFileSize = 1024 * 1024;

// "permission denied": the system's reason, to follow a colon.
QString errorReason(int error)
{
    QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (!reason.isEmpty())
        reason[0] = reason[0].toLower();
    return reason;
}

} // namespace

SettingsError::SettingsError(const QString& message)
    : TaskhaulError(message.toStdString())
{
}

SettingsStore::SettingsStore(LongTimeFormat timeFormat, std::shared_ptr<PasswordKeyring> keyring)
    : SettingsStore(userStorePath(), std::move(timeFormat), std::move(keyring))
{
}

SettingsStore::SettingsStore(
    QString filePath, LongTimeFormat timeFormat, std::shared_ptr<PasswordKeyring> keyring)
    : filePath_(std::move(filePath))
    , timeFormat_(std::move(timeFormat))
    , keyring_(std::move(keyring))
{
}

QString SettingsStore::fileProblem() const
{
    const QByteArray name = QFile::encodeName(filePath_);
    struct stat info { };
    if (::stat(name.constData(), &info) != 0) {
        if (errno == ENOENT)
            return {};
        return QStringLiteral("%1 cannot be read: %2").arg(filePath_, errorReason(errno));
    }
    if (S_ISDIR(info.st_mode))
        return QStringLiteral("%1 cannot be read: it is a folder").arg(filePath_);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return QStringLiteral("%1 cannot be read: %2").arg(filePath_, errorReason(errno));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("%1 cannot be read: %2").arg(filePath_, errorReason(EIO));
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("%1 is not a settings file").arg(filePath_);
    // A settings file is text; QSettings reads almost anything as one, so its
    // own verdict alone would let binary junk through as an empty job.
    const QByteArray content = file.read(kMaxSettingsFileSize);
    const QString notSettings = QStringLiteral("%1 is not a settings file").arg(filePath_);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(content);
    if (content.contains('\0') || utf8.hasError() || !file.atEnd())
        return notSettings;
    QSettings settings(filePath_, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || !settings.childGroups().contains(optionsGroup))
        return notSettings;
    settings.beginGroup(optionsGroup);
    for (const char* key : kRequiredKeys)
        if (!settings.contains(QLatin1String(key)))
            return QStringLiteral("%1 lacks the key %2").arg(filePath_, QLatin1String(key));
    return {};
}

StartupOptions SettingsStore::readStartupOptions() const
{
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.beginGroup(optionsGroup);
    const auto isOn = [&](const char* name) {
        const QVariant value = settings.value(QLatin1String(name));
        return value.typeId() == QMetaType::QString && value.toString() == yesText;
    };
    return { isOn("Autoload"), isOn("Autostart"), isOn("Minimized") };
}

LoadResult SettingsStore::load(const JobSettings& current) const
{
    LoadResult result { current, std::nullopt, {}, {} };
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.beginGroup(optionsGroup);
    QStringList storedEmpty; // password values applied from an empty text
    try {
        for (const StoredValue& value : storedValues) {
            const QString name = QLatin1String(value.name);
            std::optional<QString> text = readText(settings, name);
            // No passphrase value at all: the job has none, in the keyring or not.
            const bool noEntry = !text && name == keyPassphraseName;
            if (!text && value.whenMissing == WhenMissing::UseDefault)
                text = QLatin1String(value.defaultText);
            if (text) {
                value.apply(result.settings, *text, timeFormat_);
                if (isPasswordValue(name) && text->isEmpty() && !noEntry)
                    storedEmpty << name;
                else if (isPasswordValue(name))
                    unreadEntries_.removeAll(name); // the file's password is the job's now
            }
            result.appliedKeys << name;
        }
    } catch (const SettingsError& error) {
        result.error = error;
    }
    // The option is taken from the file, so that a load stopped early still
    // finds the passwords it applied.
    if (!storedEmpty.isEmpty() && keyringOptionStored(settings))
        readFromKeyring(result, storedEmpty);
    return result;
}

void SettingsStore::readFromKeyring(LoadResult& result, const QStringList& names) const
{
    const KeyringStatus status = keyring_ ? keyring_->status() : KeyringStatus::Absent;
    bool failed = false;
    for (const QString& name : names) {
        const std::optional<QString> password
            = status == KeyringStatus::Available ? keyring_->read(name) : std::nullopt;
        unreadEntries_.removeAll(name);
        if (password)
            passwordOf(result.settings, name) = *password;
        else
            unreadEntries_ << name;
        failed = failed || !password;
    }
    if (status != KeyringStatus::Available)
        result.keyringWarning = keyringUnusable(keyring_.get(), status, notRead);
    else if (failed)
        result.keyringWarning = QStringLiteral("The desktop keyring could not be read%1; %2")
                                    .arg(inParentheses(keyring_->lastError()), notRead);
}

bool SettingsStore::moveToKeyring(const JobSettings& job, const QStringList& names, QString& warning) const
{
    const KeyringStatus status = keyring_ ? keyring_->status() : KeyringStatus::Absent;
    if (status != KeyringStatus::Available) {
        warning = keyringUnusable(keyring_.get(), status, keptInFile);
        return false;
    }
    for (const QString& name : names) {
        const QString& password = passwordOf(job, name);
        bool stored = true;
        if (!password.isEmpty())
            stored = keyring_->write(name, password);
        else if (!unreadEntries_.contains(name)) // an empty password needs no entry
            stored = keyring_->remove(name);
        // else: it only came back empty because its entry could not be read; the
        // entry stays for the next load.
        if (!stored) {
            warning = QStringLiteral("The passwords could not be stored in the desktop keyring%1; they "
                                     "stay scrambled in the settings file.")
                          .arg(inParentheses(keyring_->lastError()));
            return false;
        }
        if (!password.isEmpty())
            unreadEntries_.removeAll(name);
    }
    return true;
}

void SettingsStore::removeFromKeyring(
    const JobSettings& job, const QStringList& names, QString& warning) const
{
    const KeyringStatus status = keyring_ ? keyring_->status() : KeyringStatus::Absent;
    if (status != KeyringStatus::Available) {
        warning = keyringUnusable(keyring_.get(), status, notRemoved);
        return;
    }
    bool keptUnread = false;
    for (const QString& name : names) {
        // A password that could not be read is in the keyring only: keep it there.
        if (passwordOf(job, name).isEmpty() && unreadEntries_.contains(name)) {
            keptUnread = true;
            continue;
        }
        if (!keyring_->remove(name)) {
            warning = QStringLiteral("The passwords could not be removed from the desktop keyring%1.")
                          .arg(inParentheses(keyring_->lastError()));
            return;
        }
        unreadEntries_.removeAll(name);
    }
    if (keptUnread)
        warning = QStringLiteral(
            "The passwords that could not be read from the desktop keyring were left in it.");
}

SaveResult SettingsStore::save(const JobSettings& job) const
{
    SaveResult result;
    // The passphrase's entry is touched only when there is a passphrase, or when
    // the keyring may hold one: a job without a key leaves the keyring as before.
    QStringList secrets { sitePasswordName, proxyPasswordName };
    {
        QSettings stored(filePath_, QSettings::IniFormat);
        stored.beginGroup(optionsGroup);
        if (!job.keyPassphrase.isEmpty() || passphraseInKeyringText(stored)
            || unreadEntries_.contains(keyPassphraseName))
            secrets << keyPassphraseName;
    }
    // The keyring first: the file drops the passwords only once the keyring holds them.
    const bool inKeyring = job.useKeyring && moveToKeyring(job, secrets, result.keyringWarning);
    bool leavingKeyring = false;

    std::array<const StoredValue*, storedValues.size()> order {};
    std::transform(storedValues.begin(), storedValues.end(), order.begin(), [](const auto& v) { return &v; });
    std::sort(order.begin(), order.end(),
        [](const StoredValue* a, const StoredValue* b) { return a->savePosition < b->savePosition; });
    const QString failure
        = QStringLiteral("Failed to set data for '%1'").arg(QLatin1String(order.front()->name));

    if (!restrictToOwner(filePath_))
        throw SettingsError(failure);
    {
        QSettings settings(filePath_, QSettings::IniFormat);
        settings.beginGroup(optionsGroup);
        leavingKeyring = !job.useKeyring && keyringOptionStored(settings);
        for (const StoredValue* value : order) {
            const QString name = QLatin1String(value->name);
            const QString text
                = inKeyring && isPasswordValue(name) ? QString() : value->write(job, timeFormat_);
            bool written = true;
            if (name == keyPassphraseName) // also kept while its entry could not be read
                written = !job.keyPassphrase.isEmpty() || unreadEntries_.contains(name);
            else if (keptOutAtDefault(name))
                written = text != QLatin1String(value->defaultText);
            if (written)
                settings.setValue(name, text);
            else
                settings.remove(name);
        }
        settings.endGroup();
        settings.sync();
        if (settings.status() != QSettings::NoError)
            throw SettingsError(failure);
    }
    // In case the file was replaced by a program that does not keep modes.
    QFile::setPermissions(filePath_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // The file holds the passwords again; now they can leave the keyring.
    if (leavingKeyring)
        removeFromKeyring(job, secrets, result.keyringWarning);
    return result;
}

void SettingsStore::saveSequence(int value) const
{
    const QString failure = QStringLiteral("Failed to set data for 'sequencevalue'");
    if (!QFileInfo::exists(filePath_))
        return;
    if (!restrictToOwner(filePath_))
        throw SettingsError(failure);
    QSettings settings(filePath_, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw SettingsError(failure);
    if (!settings.childGroups().contains(optionsGroup))
        return;
    settings.beginGroup(optionsGroup);
    settings.setValue(QStringLiteral("sequencevalue"), QString::number(value));
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw SettingsError(failure);
    QFile::setPermissions(filePath_, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

JobSettings clearedJobSettings(const JobSettings& current, const QTime& now)
{
    JobSettings cleared;
    cleared.intervalMinutes = current.intervalMinutes;
    cleared.sequenceStart = current.sequenceStart;
    cleared.resetSequence = current.resetSequence;
    cleared.dailyTime = QTime(now.hour(), now.minute(), now.second());
    return cleared;
}

} // namespace taskhaul
