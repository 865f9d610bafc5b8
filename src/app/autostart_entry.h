#pragma once

#include <QString>

namespace taskhaul {

// "Start Taskhaul when I log in": an XDG autostart entry that starts the
// program with "-r -m" (load the job, start the scheduler, hide in the
// notification area). The entry carries a key of its own, so an entry of the
// same name that the user or another program wrote is never removed.
//
// The window keeps the entry in step with its check box: it is written or
// removed when the box changes, and again whenever a job is loaded or saved
// (an entry deleted by hand comes back with the next save).
class AutostartEntry {
public:
    static constexpr const char* fileName = "org.velmora.Taskhaul.desktop";

    // $XDG_CONFIG_HOME/autostart/org.velmora.Taskhaul.desktop (~/.config by default).
    static QString path();
    // The program the entry starts: the command the user started, as an
    // absolute path (the launcher in front of the window program).
    static QString programPath();

    // The entry's text for `program`.
    static QString content(const QString& program);
    // One argument of an Exec line, quoted and escaped as desktop entries want.
    static QString execArgument(const QString& argument);
    // Whether `text` is an entry this program wrote.
    static bool isOurs(const QString& text);

    // Writes the entry (on) or removes it when it is ours (off). False when the
    // entry could not be written or removed.
    static bool apply(bool on, const QString& program = programPath());
};

} // namespace taskhaul
