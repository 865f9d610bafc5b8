#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
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

    // Where the running copy listens for a second start: beside the lock.
    static QString wakePath(const QString& lockPath) { return lockPath + QStringLiteral(".show"); }

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

// The running copy's ear for a second start. A client sends one line:
//   "show"  - bring the window to the front (restored if hidden);
//   "state" - only ask;
// and gets one line back: "shown" when the window is now on the screen,
// "hidden" when it is not.
class WakeServer : public QObject {
    Q_OBJECT
public:
    // `show` brings the window up; `shown` tells whether it is on the screen.
    WakeServer(const QString& path, std::function<void()> show, std::function<bool()> shown);
    ~WakeServer() override;

    bool listening() const;

private:
    void answer();

    QLocalServer* server_;
    std::function<void()> show_;
    std::function<bool()> shown_;
};

// A second start: asks the running copy at `path` to show its window. Returns
// its answer ("shown", "hidden"), or an empty text when none came in time.
QString askRunningCopy(const QString& path, const QByteArray& request = "show", int timeoutMs = 3000);

} // namespace taskhaul
