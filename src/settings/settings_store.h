#pragma once

#include "log/long_time_format.h"
#include "settings/job_settings.h"

#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>
#include <stdexcept>

namespace taskhaul {

// A value of the store could not be read or converted, or the store could not
// be written. The message is the one the error box shows, e.g.
// "'25:00' is not a valid time", "'x' is not a valid integer value",
// "Invalid data type for 'Host'", "Failed to set data for 'Host'".
class SettingsError : public std::runtime_error {
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
// values applied, in load order.
struct LoadResult {
    JobSettings settings;
    std::optional<SettingsError> error;
    QStringList appliedKeys;

    bool ok() const { return !error.has_value(); }
    bool applied(const QString& key) const { return appliedKeys.contains(key); }
};

// The per-user settings store: group "Options" of the QSettings file of
// organisation "Velmora", application "Taskhaul" (~/.config/Velmora/Taskhaul.conf),
// every value a string. The file holds the scrambled passwords, so it is kept
// readable by its owner only.
class SettingsStore {
public:
    explicit SettingsStore(LongTimeFormat timeFormat);
    // A store in the given file (same format); for tools and tests.
    SettingsStore(QString filePath, LongTimeFormat timeFormat);

    QString filePath() const { return filePath_; }

    // The three start-up options: each on exactly when its stored text is "True".
    // A missing store or value, or a value that is not a string, reads as off.
    StartupOptions readStartupOptions() const;

    // Open Configuration: the values after loading the store over `current`
    // (the window's values), in the store's load order and with its defaults.
    // Never throws; a failing value is reported in the result.
    LoadResult load(const JobSettings& current) const;

    // Save Configuration: writes every value. Throws SettingsError when the file
    // cannot be written; then nothing of this save is in the store.
    void save(const JobSettings& job) const;

private:
    QString filePath_;
    LongTimeFormat timeFormat_;
};

// Clear All: the values after clearing `current` at time of day `now`. The
// interval, the sequence start and its reset option keep their values.
JobSettings clearedJobSettings(const JobSettings& current, const QTime& now);

} // namespace taskhaul
