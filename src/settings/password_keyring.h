#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace taskhaul {

// Where the job's passwords can be kept instead of the settings file: the
// desktop's keyring. One entry per password, named by the store value it
// replaces ("Password", "Proxypassword", "KeyPassphrase").
class PasswordKeyring {
public:
    enum class Status {
        Available, // reachable and unlocked: entries can be read and written
        Locked, // there, but locked; using it would need the user to unlock it
        Absent, // no keyring service (no session bus, or nothing serves the keyring)
        Missing, // the program's keyring module cannot be loaded; lastError() says why
    };

    virtual ~PasswordKeyring() = default;

    virtual Status status() = 0;
    // The entry's value; an empty text when there is no entry; nothing when the
    // keyring could not be read.
    virtual std::optional<QString> read(const QString& key) = 0;
    // True once the keyring confirmed that it holds `value` under `key`.
    virtual bool write(const QString& key, const QString& value) = 0;
    // True when there is no entry for `key` afterwards (also when there was none).
    virtual bool remove(const QString& key) = 0;
    // Why the last read, write or removal failed, for the log.
    virtual QString lastError() const = 0;
};

// The desktop keyring (the Secret Service on the session bus, through
// QtKeychain). `service` names the program's entries in it.
//
// It lives in a module of its own (taskhaul-keyring.so, beside the programs),
// loaded on the first call, so that a job that keeps its passwords in the
// settings file never loads the keyring's libraries.
std::shared_ptr<PasswordKeyring> makeDesktopKeyring(const QString& service = QStringLiteral("Taskhaul"));
// The same, with the module at `modulePath`.
std::shared_ptr<PasswordKeyring> makeDesktopKeyring(const QString& service, const QString& modulePath);
// Where the keyring module is looked for.
QString desktopKeyringModulePath();

} // namespace taskhaul
