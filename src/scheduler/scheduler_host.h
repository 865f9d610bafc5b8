#pragma once

#include <string>
#include <vector>

#include "log/user_messages.h"
#include "settings/job_settings.h"

#include <QString>
#include <QTime>

namespace taskhaul {

enum class RunOutcome; // unattended_run.h
class LocalFolderRun; // transfer/leftovers.h

// What the scheduler needs from its surroundings. The main window implements it
// with its fields, icon, log and controls; the headless runner without a window;
// tests with a recording fake.
class SchedulerHost {
public:
    virtual ~SchedulerHost() = default;

    // A snapshot of the job's fields as they are now.
    virtual JobSettings job() const = 0;
    // Writes the daily time field (a change of the settings).
    virtual void setDailyTime(const QTime& time) = 0;

    // Appends one line to the activity log; raises when the log cannot be written.
    virtual void writeLog(const QString& text) = 0;
    virtual MessageBoxes& messageBoxes() = 0;
    // The hint of the notification-area icon.
    virtual void setTrayHint(const QString& hint) = 0;

    virtual void controlsStandby() = 0;
    virtual void controlsSchedon() = 0;
    virtual void controlsConnected() = 0;
    // Whether the Start and Stop commands are enabled now (Start/Stop picks by them).
    virtual bool startEnabled() const = 0;
    virtual bool stopEnabled() const = 0;

    // An unattended run has ended, however it ended (also when the job's fields
    // were incomplete and nothing was tried).
    virtual void runFinished(RunOutcome outcome) { (void)outcome; }
};

// The steps of one unattended run, as the transfer engine performs them.
// Each step reports its own failures; one that ends the run raises SilentStop
// after reporting, any other error is raised unreported.
class RunSteps {
public:
    virtual ~RunSteps() = default;

    // True while a transfer holds the FTP connection (a run, or the user's
    // Transfer command); a run must not start then.
    virtual bool busy() const = 0;
    // Connects and logs in with the job's site; drops a connection left open.
    virtual void siteConnect() = 0;
    // Enters the job's remote folder; on failure the connection is closed.
    virtual void changeFolder() = 0;
    // Fetches the job's file or files.
    virtual void transfer(JobSettings::FileKind kind) = 0;
    // Closes the connection.
    virtual void disconnect() = 0;

    // Retries. Whether the last run failed for want of a connection: it could
    // not connect, or the connection was lost on the way.
    virtual bool lostConnection() const { return false; }
    // The remote names the last run fetched.
    virtual std::vector<std::string> fetchedNames() const { return {}; }
    // The next run leaves these names out: they were fetched by the attempt it retries.
    virtual void leaveOut(std::vector<std::string> names) { (void)names; }
    // The lock on the local folder that the caller holds for the run (null:
    // none); the transfer then needs no lock of its own.
    virtual void useFolderRun(const LocalFolderRun* run) { (void)run; }
};

} // namespace taskhaul
