#include "log/activity_log.h"

#include "log/one_line.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace taskhaul {

namespace {

QString systemErrorText(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return QStringLiteral("Disk full");
    default:
        return QStringLiteral("I/O error %1").arg(error);
    }
}

[[noreturn]] void fail(const QString& path, int error)
{
    throw LogWriteError(systemErrorText(error), path, error);
}

int openForAppending(const QByteArray& name)
{
    int fd;
    do
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// Appends `bytes` to the file at `path`, creating it (and its folder) when
// missing, in one open-write-close. Throws LogWriteError; the descriptor is
// closed either way.
void appendToFile(const QString& path, const QByteArray& bytes)
{
    const QByteArray name = QFile::encodeName(path);
    int fd = openForAppending(name);
    // A user who clears the log by removing its whole folder gets it back
    // rather than an error at every later event.
    if (fd < 0 && errno == ENOENT) {
        if (QDir().mkpath(QFileInfo(path).absolutePath()))
            fd = openForAppending(name);
        else
            errno = ENOENT;
    }
    if (fd < 0)
        fail(path, errno);

    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            fail(path, error);
        }
        data += written;
        left -= written;
    }
    // close() may report a delayed write error (e.g. on network file systems).
    if (::close(fd) != 0 && errno != EINTR)
        fail(path, errno);
}

// An installed program lives in a folder of the system's (/usr/bin, /opt/...).
// Even where it may write there (run by root, from cron), the log belongs in the
// user's state folder, not among the system's files.
bool isSystemFolder(const QString& folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    for (const char* system : { "/usr", "/bin", "/sbin", "/lib", "/lib64", "/opt", "/etc" }) {
        const QLatin1String prefix(system);
        if (clean == prefix || clean.startsWith(prefix + QLatin1Char('/')))
            return true;
    }
    return false;
}

// The local date and time now. QDateTime::currentDateTime() asks the system for
// the time zone at every call (a look at /etc/localtime); a run that writes
// thousands of lines within a second needs that answer once a second, which
// still follows a change of the zone while the program runs for months.
ActivityLog::Moment currentLocalMoment()
{
    static std::time_t zoneReadAt = -1; // the program writes its log from one thread
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec != zoneReadAt) {
        ::tzset();
        zoneReadAt = now.tv_sec;
    }
    std::tm parts {};
    ::localtime_r(&now.tv_sec, &parts);
    // A leap second (60) is shown as the last second of its minute.
    return { QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
        QTime(parts.tm_hour, parts.tm_min, std::min(parts.tm_sec, 59), int(now.tv_nsec / 1000000)) };
}

} // namespace

LogWriteError::LogWriteError(const QString& message, QString path, int systemError)
    : TaskhaulError(message.toStdString())
    , path_(std::move(path))
    , systemError_(systemError)
{
}

ActivityLog::ActivityLog(QString path, LongTimeFormat timeFormat, Clock clock)
    : path_(std::move(path))
    , timeFormat_(std::move(timeFormat))
    , clock_(std::move(clock))
{
}

ActivityLog::Moment ActivityLog::now() const
{
    if (!clock_)
        return currentLocalMoment();
    const QDateTime moment = clock_();
    return { moment.date(), moment.time() };
}

QString ActivityLog::linePrefix(const Moment& moment) const
{
    return moment.date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
        + timeFormat_.format(moment.time) + QStringLiteral(" - ");
}

QString ActivityLog::formatLine(const QDateTime& moment, const QString& text) const
{
    return linePrefix({ moment.date(), moment.time() }) + text;
}

void ActivityLog::write(const QString& text)
{
    write(QStringList { text });
}

void ActivityLog::write(const QStringList& texts)
{
    if (texts.isEmpty())
        return;
    const QString prefix = linePrefix(now());
    QStringList lines;
    lines.reserve(texts.size());
    QByteArray bytes;
    for (const QString& text : texts) {
        lines.append(prefix + oneLine(text));
        bytes += lines.back().toUtf8();
        bytes += '\n';
    }
    appendToFile(path_, bytes);
    if (observer_)
        for (const QString& line : lines)
            observer_(line);
}

QString ActivityLog::pathFor(const QString& programFolder, const QString& stateHome, const QString& home)
{
    const QByteArray folder = QFile::encodeName(programFolder);
    if (!programFolder.isEmpty() && !isSystemFolder(programFolder) && ::access(folder.constData(), W_OK) == 0)
        return QDir(programFolder).filePath(QLatin1String(fileName));

    // Relative values of XDG_STATE_HOME are to be ignored.
    const QString base = QDir::isAbsolutePath(stateHome) ? stateHome : home + QStringLiteral("/.local/state");
    const QString logFolder = QDir::cleanPath(base + QStringLiteral("/Velmora/Taskhaul"));
    QDir().mkpath(logFolder);
    return QDir(logFolder).filePath(QLatin1String(fileName));
}

QString ActivityLog::defaultPath()
{
    return pathFor(
        QCoreApplication::applicationDirPath(), qEnvironmentVariable("XDG_STATE_HOME"), QDir::homePath());
}

} // namespace taskhaul
