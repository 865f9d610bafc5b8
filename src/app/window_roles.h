#pragma once

#include "app/command_table.h"
#include "settings/job_settings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace taskhaul {

class LongTimeFormat;
class MessageBoxes;
class StatusLine;
class TrayArea;
enum class RunOutcome;

// The main window as the parts around it see it: one narrow interface per part,
// each with exactly what that part needs. The window implements them all; a
// part gets only its own.

// What the transfer engine's wiring needs: the job's fields, the status line,
// the log, the message boxes, the controls and the process-wide flags.
class TransferWindowRole {
public:
    virtual ~TransferWindowRole() = default;
    // A snapshot of the job's fields.
    virtual JobSettings jobSettings() const = 0;
    virtual void setSequenceStart(int value) = 0;
    virtual void setLoginFields(const QString& userName, const QString& password) = 0;
    virtual void setTrustedCertificate(const QString& fingerprint) = 0;
    // The SFTP server's host key the user chose to trust ("SHA256:..."), or empty.
    virtual void setTrustedHostKey(const QString& fingerprint) = 0;
    // The local date and time.
    virtual QDateTime now() const = 0;
    virtual QString statusLine() const = 0;
    virtual void setStatusLine(const QString& text) = 0;
    // Appends one line to the activity log; throws when it cannot be written.
    virtual void writeLog(const QString& text) = 0;
    // Appends lines of one moment in one write.
    virtual void writeLogLines(const QStringList& texts) = 0;
    virtual MessageBoxes& messageBoxes() = 0;
    virtual void controlsStandby() = 0;
    virtual void controlsConnected() = 0;
    virtual void controlsSchedon() = 0;
    virtual void controlsBusy() = 0;
    virtual void setStopTransferEnabled(bool enabled) = 0;
    // The host field takes the focus when the site page is shown and it is enabled.
    virtual void focusHostField() = 0;
    virtual void setBusyCursor(bool busy) = 0;
};

// What the scheduler's wiring needs: the job's fields, the daily time field, the
// icon hint, the log, the controls, the clock and the error guard for the ticks.
class SchedulerWindowRole {
public:
    virtual ~SchedulerWindowRole() = default;
    virtual JobSettings jobSettings() const = 0;
    virtual void setDailyTime(const QTime& time) = 0;
    virtual QDateTime now() const = 0;
    virtual void writeLog(const QString& text) = 0;
    // The time format of the log's lines.
    virtual MessageBoxes& messageBoxes() = 0;
    virtual void setTrayHint(const QString& hint) = 0;
    virtual void controlsStandby() = 0;
    virtual void controlsSchedon() = 0;
    virtual void controlsConnected() = 0;
    virtual bool isCommandEnabled(Command command) const = 0;
    // Runs an entry point (a timer tick) under the error guard.
    virtual bool runGuarded(const std::function<void()>& body) = 0;
    // A scheduled run has ended.
    virtual void scheduledRunFinished(RunOutcome outcome) = 0;
};

// What the desktop integration needs: the start-at-login option, the job's
// fields, the status bar's parts, the notification-area icon, the log, the clock
// and the commands (a click on a notification opens the log).
class DesktopWindowRole {
public:
    virtual ~DesktopWindowRole() = default;
    virtual bool startAtLogin() const = 0;
    virtual JobSettings jobSettings() const = 0;
    virtual QString statusLine() const = 0;
    virtual StatusLine& statusLineWidgets() = 0;
    virtual TrayArea& tray() = 0;
    virtual QDateTime now() const = 0;
    virtual void writeLog(const QString& text) = 0;
    virtual bool runGuarded(const std::function<void()>& body) = 0;
    virtual void runCommand(Command command) = 0;
};

} // namespace taskhaul
