#pragma once

#include "log/user_messages.h"
#include "settings/job_settings.h"
#include "transfer/local_date_time.h"

#include <QString>
#include <QStringList>

namespace taskhaul {

// Everything the transfer engine needs from its surroundings. The main window
// implements it with its fields, status bar, log and controls; the headless runner
// implements it without any window; tests implement it with a recording fake.
class TransferHost {
public:
    virtual ~TransferHost() = default;

    // ---- The job ----
    // A snapshot of the job's fields as they are now. The engine takes one at
    // the start of a connect and of a transfer, and reads nothing during them.
    virtual JobSettings job() const = 0;
    // The run moved the sequence number on: shows it in the job (a change of the
    // settings that the host keeps).
    virtual void setSequenceStart(int value) = 0;
    // Writes the login user name and password fields (a change of the settings).
    virtual void setLoginFields(const QString& userName, const QString& password) = 0;
    // Keeps the fingerprint of a server certificate the user chose to trust with
    // the job (a change of the settings).
    virtual void setTrustedCertificate(const QString& fingerprint) { (void)fingerprint; }
    // Keeps the fingerprint of an SSH host key the user chose to trust with the
    // job (a change of the settings).
    virtual void setTrustedHostKey(const QString& fingerprint) { (void)fingerprint; }
    // The local clock; name templates are expanded against it.
    virtual LocalDateTime currentTime() const = 0;

    // ---- What the user sees ----
    // The status line is for the user only: the engine writes it and never
    // reads it back to learn what happened.
    virtual void setStatusText(const QString& text) = 0;
    // Appends one line to the activity log; raises when the log cannot be written.
    virtual void writeLog(const QString& text) = 0;
    // Appends lines of one moment in one write of the log (ActivityLog::write of
    // a list); the same lines as writeLog for each, in order.
    virtual void writeLogLines(const QStringList& texts)
    {
        for (const QString& text : texts)
            writeLog(text);
    }
    virtual MessageBoxes& messageBoxes() = 0;

    // ---- Control states ----
    virtual void controlsStandby() = 0;
    virtual void controlsConnected() = 0;
    virtual void controlsSchedon() = 0;
    // A user's connect is in progress: only what ends it stays enabled. Hosts
    // without controls leave it as it is.
    virtual void controlsBusy() { }
    // Enables or disables the Stop Transfer command alone.
    virtual void setStopTransferEnabled(bool enabled) = 0;
    // Moves the input focus to the host field when the site page is shown and the
    // field can take it; does nothing otherwise.
    virtual void focusHostField() = 0;
    // Busy mouse cursor on or off; repeated calls with the same value change nothing.
    virtual void setBusyCursor(bool busy) = 0;

    // Lets input that is waiting run now (a click on Stop Transfer, a repaint).
    // Called on every progress notification of a download.
    virtual void processPendingEvents() = 0;
};

} // namespace taskhaul
