#pragma once

#include "base/taskhaul_error.h"
#include "log/long_time_format.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

namespace taskhaul {

// A log line could not be written. The message is the short system text the
// user sees in the error box ("File not found", "File access denied",
// "Disk full" or "I/O error <number>").
class LogWriteError : public TaskhaulError {
public:
    LogWriteError(const QString& message, QString path, int systemError);
    const QString& path() const { return path_; }
    int systemError() const { return systemError_; }

private:
    QString path_;
    int systemError_;
};

// The plain-text activity log: one time-stamped line per event, ended by LF as
// text files are on Linux (and as --run-once prints them). The file is opened,
// appended to and closed for every write, so other programs may read, copy or
// delete it between writes; a deleted file is created again by the next write.
// Nothing is ever read back, rotated, shortened or converted: a log whose
// older lines end with CR LF keeps them, and the new lines follow them.
class ActivityLog {
public:
    using Clock = std::function<QDateTime()>;
    // A local date and time of day, as a line shows them.
    struct Moment {
        QDate date;
        QTime time;
    };
    // Sees each line (without its LF) once it has reached the file.
    using LineObserver = std::function<void(const QString& line)>;

    static constexpr const char* fileName = "dunmark.txt";

    // `clock` gives the local date and time of each line; the system clock when empty.
    ActivityLog(QString path, LongTimeFormat timeFormat, Clock clock = {});

    // Appends "yyyy-MM-dd <long time> - <text>" + LF, reading the clock once.
    // The text is made one line first (oneLine): whatever a server or a user put
    // in it, one entry stays one line with its own time stamp. Written as UTF-8.
    // Throws LogWriteError; the line is then lost and no file is left open.
    void write(const QString& text);
    // Appends the entries of one moment together, each a line as above, all with
    // the same reading of the clock and in one open, write and close: a run that
    // settles two thousand files without a word to the server writes their lines
    // at once rather than opening the file four thousand times. The caller keeps
    // such a group small enough to hold in memory.
    void write(const QStringList& texts);

    // The line `write` would append at `moment`, without its LF.
    QString formatLine(const QDateTime& moment, const QString& text) const;

    const QString& path() const { return path_; }
    const LongTimeFormat& timeFormat() const { return timeFormat_; }
    void setLineObserver(LineObserver observer) { observer_ = std::move(observer); }

    // Where the log lives: beside the program when its folder is writable and
    // not a system folder (an installed program in /usr/bin, /opt ...),
    // otherwise $XDG_STATE_HOME/Velmora/Taskhaul (default ~/.local/state/...).
    // The fallback folder is created when missing.
    static QString defaultPath();
    // The same rule for given folders (`stateHome` empty: `home` + "/.local/state").
    static QString pathFor(const QString& programFolder, const QString& stateHome, const QString& home);

private:
    Moment now() const;
    QString linePrefix(const Moment& moment) const;

    QString path_;
    LongTimeFormat timeFormat_;
    Clock clock_;
    LineObserver observer_;
};

} // namespace taskhaul
