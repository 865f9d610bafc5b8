#pragma once

#include "scheduler/scheduler_host.h"

namespace taskhaul {

// The two kinds of scheduled run differ only in when the controls show the
// connected state: the daily run before connecting, the interval run once the
// remote folder has been entered.
enum class RunKind { Daily, Interval };

enum class RunOutcome {
    Completed, // connected, transferred and disconnected (files may still have been skipped)
    Incomplete, // a site or local-folder field is empty; nothing was tried
    Failed, // a step failed; the log says which
};

// One unattended run: field check, connect, remote folder, transfer, disconnect.
// Every failure is written to the log (the step's own lines, otherwise "ERROR: "
// and the error's message) and never shown; whatever happens after the
// connection was made, the run still disconnects. Never raises. The control
// state after the run is the caller's to set.
RunOutcome performUnattendedRun(RunKind kind, SchedulerHost& host, RunSteps& steps);

// The log line of a run whose site or local-folder field is empty.
inline constexpr const char* kFieldsRequiredLine = "FTP Site and Local Folder information required.";

} // namespace taskhaul
