// The values of the settings store: their names, what a missing value means,
// how a stored text is applied to the job and how the job's value is written.

#include "settings/stored_values.h"

#include "settings/password_scrambler.h"
#include "settings/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace taskhaul::stored {

const QString optionsGroup = QStringLiteral("Options");
const QString yesText = QStringLiteral("True");

namespace {

// ---------------------------------------------------------------------------
// Encodings

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

// A missing yes/no or choice value reads as this text, which matches nothing.
constexpr const char* unmatched = "Error";

using Job = JobSettings;
using Format = LongTimeFormat;

const std::array<StoredValue, 39> kStoredValues { {
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

} // namespace

std::span<const StoredValue> storedValues()
{
    return kStoredValues;
}

const StoredValue& storedValue(const QString& name)
{
    const auto found = std::find_if(kStoredValues.begin(), kStoredValues.end(),
        [&name](const StoredValue& value) { return name == QLatin1String(value.name); });
    Q_ASSERT(found != kStoredValues.end());
    return *found;
}

// The values that came with SFTP and later are left out of the file while they
// hold their defaults: a job saved now is byte for byte the file saved before them.
bool keptOutAtDefault(const QString& name)
{
    static const QStringList names { QStringLiteral("Protocol"), QStringLiteral("KeyFile"),
        QStringLiteral("KeyPassphrase"), QStringLiteral("TrustedHostKey"), QStringLiteral("Connections") };
    return names.contains(name);
}

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

} // namespace taskhaul::stored
