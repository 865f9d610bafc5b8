#pragma once

#include "base/taskhaul_error.h"
#include "log/long_time_format.h"
#include "settings/job_settings.h"
#include "settings/password_keyring.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>
#include <optional>
#include <stdexcept>

namespace taskhaul {

// A value of the store could not be read or converted, or the store could not
// be written. The message is the one the error box shows, e.g.
// "'25:00' is not a valid time", "'x' is not a valid integer value",
// "Invalid data type for 'Host'", "Failed to set data for 'Host'".
class SettingsError : public TaskhaulError {
public:
    explicit SettingsError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// The three start-up options, read on their own when the program starts.
struct StartupOptions {
    bool autoLoad = false;
    bool autoStart = false;
    bool minimized = false;
    bool operator==(const StartupOptions&) const = default;
};

// What loading produced: the window's values with every value applied that the
// load reached. When a value failed, `error` holds its error, `settings` the
// values applied before it (the rest unchanged) and `appliedKeys` names the
// values applied, in load order. `keyringWarning` tells, for the log, why
// passwords kept in the desktop keyring came back empty; the load itself has
// not failed then.
struct LoadResult {
    JobSettings settings;
    std::optional<SettingsError> error;
    QStringList appliedKeys;
    QString keyringWarning;
    // The secrets the keyring held back ("Password", "Proxypassword",
    // "KeyPassphrase"): stored there, but empty in `settings` for now.
    QStringList unreadSecrets;

    bool ok() const { return !error.has_value(); }
    bool applied(const QString& key) const { return appliedKeys.contains(key); }
};

// What saving did besides writing the file: `keyringWarning` tells, for the
// log, why the passwords were not moved into (or out of) the desktop keyring.
struct SaveResult {
    QString keyringWarning;
};

// The per-user settings store: group "Options" of the QSettings file of
// organisation "Velmora", application "Taskhaul" (~/.config/Velmora/Taskhaul.conf),
// every value a string. The file holds the scrambled passwords, so it is kept
// readable by its owner only.
//
// With the job's option "UseKeyring" on, the two passwords and the passphrase of
// the SFTP key are kept in the desktop keyring instead, one entry each under the
// names of the values they replace ("Password", "Proxypassword",
// "KeyPassphrase"), and the file holds empty texts for them. A job without a
// passphrase has no "KeyPassphrase" value at all, nor an entry for it. They are moved only once the keyring
// has confirmed the write; without a usable keyring the file keeps them scrambled and the save says why. With
// the option off the file is written exactly as without a keyring, and the
// keyring is touched only to take the passwords out of it when the option was
// on in the file until then.
class SettingsStore {
public:
    // `keyring` null: there is no keyring; the passwords always stay in the file.
    explicit SettingsStore(
        LongTimeFormat timeFormat, std::shared_ptr<PasswordKeyring> keyring = makeDesktopKeyring());
    // A store in the given file (same format); for tools and tests.
    SettingsStore(QString filePath, LongTimeFormat timeFormat,
        std::shared_ptr<PasswordKeyring> keyring = makeDesktopKeyring());

    QString filePath() const { return filePath_; }

    // The three start-up options: each on exactly when its stored text is "True".
    // A missing store or value, or a value that is not a string, reads as off.
    StartupOptions readStartupOptions() const;

    // Why the existing settings file cannot hold a job, for a run that has no
    // window to fall back on: "<file> cannot be read: permission denied",
    // "<file> cannot be read: it is a folder", "<file> is not a settings file",
    // "<file> lacks the key Host". Empty when it can be loaded, or is missing.
    QString fileProblem() const;

    // Open Configuration: the values after loading the store over `current`
    // (the window's values), in the store's load order and with its defaults.
    // Never throws; a failing value is reported in the result. With "UseKeyring"
    // stored as on, an empty stored password is read from the keyring; when the
    // keyring is locked, absent or fails, it stays empty and `keyringWarning` says so.
    LoadResult load(const JobSettings& current) const;

    // Save Configuration: writes every value. Throws SettingsError when the file
    // cannot be written; then nothing of this save is in the file (the keyring
    // may already hold the new passwords, which the old file does not point to
    // unless its own password texts are empty).
    SaveResult save(const JobSettings& job) const;

    // A run moved the sequence number on: writes that one value into the
    // stored job, leaving every other value (and the keyring) as it is. Does
    // nothing when no job is stored. Throws SettingsError when the file cannot
    // be written. The window and --run-once both keep the number this way.
    void saveSequence(int value) const;

    // A certificate or host key the user trusted, or forgot, for the job's
    // site: writes that one value ("TrustedCertificate" under FTP,
    // "TrustedHostKey" under SFTP) into the stored job at once, whatever else
    // the window has not saved, so that scheduled runs and --run-once see it.
    // Only when the stored job is of the same site (host, port, protocol and,
    // for FTP, security and proxy); otherwise, or when no job is stored, the
    // trust waits for Save and false is returned. Throws SettingsError when
    // the file cannot be written.
    bool saveTrust(const JobSettings& job) const;

private:
    void readFromKeyring(LoadResult& result, const QStringList& names) const;
    bool moveToKeyring(const JobSettings& job, const QStringList& names, QString& warning) const;
    void removeFromKeyring(const JobSettings& job, const QStringList& names, QString& warning) const;

    QString filePath_;
    LongTimeFormat timeFormat_;
    std::shared_ptr<PasswordKeyring> keyring_;
    // The keyring entries that a load could not read and nothing has replaced
    // since. Their passwords reached the caller empty, so a save must not take
    // that empty text for a cleared password and drop the entry.
    mutable QStringList unreadEntries_;
};

// Clear All: the values after clearing `current` at time of day `now`. The
// interval, the sequence start and its reset option keep their values.
JobSettings clearedJobSettings(const JobSettings& current, const QTime& now);

} // namespace taskhaul
