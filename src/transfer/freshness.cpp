#include "transfer/freshness.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace taskhaul {

namespace {

QDateTime truncated(const QDateTime& utc, RemoteStamp::Precision precision)
{
    switch (precision) {
    case RemoteStamp::Precision::Day:
        return QDateTime(utc.date(), QTime(0, 0), Qt::UTC);
    case RemoteStamp::Precision::Minute:
        return QDateTime(utc.date(), QTime(utc.time().hour(), utc.time().minute()), Qt::UTC);
    case RemoteStamp::Precision::Second:
        break;
    }
    return QDateTime(utc.date(), QTime(utc.time().hour(), utc.time().minute(), utc.time().second()), Qt::UTC);
}

} // namespace

LocalFileState localFileState(const QString& path)
{
    return localFileState(QFile::encodeName(path).toStdString());
}

LocalFileState localFileState(const std::string& path)
{
    // One system call: a run compares thousands of files.
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    const qint64 milliseconds = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    return { true, static_cast<std::int64_t>(info.st_size),
        QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC) };
}

bool unchangedSinceLastTransfer(
    const LocalFileState& local, std::int64_t remoteSize, const RemoteStamp& remote)
{
    if (!local.exists || remoteSize < 0 || local.size != remoteSize)
        return false;
    return truncated(local.modifiedUtc, remote.precision) >= truncated(remote.utc, remote.precision);
}

bool stillBeingWritten(std::int64_t listedSize, std::int64_t queriedSize,
    const std::optional<RemoteStamp>& remote, const QDateTime& nowUtc, int settleSeconds)
{
    if (settleSeconds <= 0)
        return false;
    if (listedSize >= 0 && queriedSize >= 0 && listedSize != queriedSize)
        return true;
    // A day-precise listing cannot tell how recent a file is.
    if (!remote || remote->precision == RemoteStamp::Precision::Day)
        return false;
    const qint64 age = remote->utc.secsTo(nowUtc);
    const qint64 slack = remote->precision == RemoteStamp::Precision::Minute ? 60 : 0;
    return age < settleSeconds + slack;
}

bool setModificationTime(const QString& path, const QDateTime& utc)
{
    return setModificationTime(QFile::encodeName(path).toStdString(), utc);
}

bool setModificationTime(const std::string& path, const QDateTime& utc)
{
    const qint64 milliseconds = utc.toMSecsSinceEpoch();
    struct timespec times[2] {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(milliseconds / 1000);
    times[1].tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000);
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

} // namespace taskhaul
