#include "settings/settings_store.h"

#include "settings/password_scrambler.h"
#include "settings/stored_values.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace taskhaul {

namespace {

using stored::optionsGroup;
using stored::readText;
using stored::restrictToOwner;
using stored::StoredValue;
using stored::storedValues;
using stored::WhenMissing;
using stored::yesText;

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
    : SettingsStore(stored::userStorePath(), std::move(timeFormat), std::move(keyring))
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
    LoadResult result { current, std::nullopt, {}, {}, {} };
    QSettings settings(filePath_, QSettings::IniFormat);
    settings.beginGroup(optionsGroup);
    QStringList storedEmpty; // password values applied from an empty text
    try {
        for (const StoredValue& value : storedValues()) {
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
        if (password) {
            passwordOf(result.settings, name) = *password;
        } else {
            unreadEntries_ << name;
            result.unreadSecrets << name;
        }
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

    std::vector<const StoredValue*> order;
    for (const StoredValue& value : storedValues())
        order.push_back(&value);
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
            else if (stored::keptOutAtDefault(name))
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
