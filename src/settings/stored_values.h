#pragma once

#include "log/long_time_format.h"
#include "settings/job_settings.h"

#include <QSettings>
#include <QString>

#include <optional>
#include <span>

// The values of the settings store, shared by its loads and saves.
namespace taskhaul::stored {

// The group that holds the job, and the text of a yes.
extern const QString optionsGroup; // "Options"
extern const QString yesText; // "True"

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

// Every value, in load order; `savePosition` gives the order of writing.
std::span<const StoredValue> storedValues();
// The value of that name (one of the table's).
const StoredValue& storedValue(const QString& name);

// The values that came with SFTP and later, left out of the file while they
// hold their defaults.
bool keptOutAtDefault(const QString& name);

// The stored text of `name`; nothing when missing. Throws SettingsError for a
// value that is not a string.
std::optional<QString> readText(const QSettings& settings, const QString& name);

// The settings file of the user: ~/.config/Velmora/Taskhaul.conf.
QString userStorePath();

// Makes sure the settings file exists as a regular file readable by its owner
// only before QSettings rewrites it; false when it cannot.
bool restrictToOwner(const QString& path);

} // namespace taskhaul::stored
