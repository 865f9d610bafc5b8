#include "app/single_instance.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace taskhaul {

SingleInstance::SingleInstance(const QString& lockPath)
    : lock_(std::make_unique<QLockFile>(lockPath))
{
    // A running copy keeps its lock however old it is; only a lock whose
    // process is gone counts as stale (QLockFile checks the process id).
    lock_->setStaleLockTime(0);
    acquired_ = lock_->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultLockPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    return folder + QLatin1Char('/') + QLatin1String(lockName);
}

} // namespace taskhaul
