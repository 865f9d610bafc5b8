#pragma once

#include "scheduler/scheduler_host.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

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

// The attempts of one due run. A run that could not connect or lost its
// connection is tried again, as often as the job allows and its delay apart;
// each attempt leaves out the files the earlier ones fetched.
class RunAttempts {
public:
    // After an attempt that got as far as trying to connect: keeps the names it
    // fetched and, when it lost the connection and a retry is left, counts the
    // retry, logs "Retrying in M minute(s) (attempt k of N)." and gives M.
    std::optional<int> afterAttempt(SchedulerHost& host, const RunSteps& steps);
    // After an attempt that was skipped for a passing reason (the passwords
    // could not be read from a locked keyring): counts and logs a retry as
    // above, when one is left.
    std::optional<int> afterSkippedAttempt(SchedulerHost& host);
    // Before a retry: it leaves out what the earlier attempts fetched.
    void prepareRetry(RunSteps& steps) const;

private:
    std::optional<int> nextRetry(SchedulerHost& host);

    int retriesDone_ = 0;
    std::vector<std::string> fetchedSoFar_;
};

// One due run with its retries, for a caller that may block between attempts:
// `wait` is given the minutes before each retry and returns false when the wait
// was cut short (a termination signal), which ends the run there. The outcome
// is the last attempt's.
//
// `skipReason`, when given, is asked before each attempt: a non-empty answer
// (something the run needs is not there for now) skips the attempt, logged as
// "Run skipped: <reason>", which counts as a failed attempt and is retried like
// a lost connection.
RunOutcome performRunWithRetries(RunKind kind, SchedulerHost& host, RunSteps& steps,
    const std::function<bool(int minutes)>& wait, const std::function<QString()>& skipReason = {});

// The log line of a run whose site or local-folder field is empty.
inline constexpr const char* kFieldsRequiredLine = "FTP Site and Local Folder information required.";

} // namespace taskhaul
