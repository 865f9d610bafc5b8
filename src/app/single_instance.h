#pragma once

#include <QString>

#include <memory>

class QLockFile;

namespace taskhaul {

// Keeps a second copy of the program from running: a lock file in the user's
// runtime folder, held until the process ends. A lock left behind by a copy
// that was killed is taken over.
class SingleInstance {
public:
    static constexpr const char* lockName = "irgendwaseinmaliges";

    // Locks `lockPath`; the default is the lock's place in the runtime folder.
    explicit SingleInstance(const QString& lockPath = defaultLockPath());
    ~SingleInstance();

    // Whether this process holds the lock (false: another copy runs).
    bool acquired() const { return acquired_; }

    // The runtime folder ($XDG_RUNTIME_DIR, or Qt's fallback under the
    // temporary folder when it is unset) + the lock's name. The folder is
    // created when missing.
    static QString defaultLockPath();

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

} // namespace taskhaul
