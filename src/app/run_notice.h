#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace taskhaul {

struct JobSettings;
struct RunReport;
enum class RunOutcome;

// A desktop notification about a scheduled run.
struct RunNotice {
    QString title;
    QString body;
    bool failure = false;
    // A run's notice takes the place of the one the job's previous run left, so
    // that a job failing every minute shows one notification, not a pile.
    bool ofRun = false;

    bool operator==(const RunNotice&) const = default;
};

// What a scheduled run tells the desktop: a failed run (no connection, no
// remote folder, a file skipped, the job incomplete ...) always, with the
// site and the reason; a successful one that follows a failed one
// (`afterFailure`) always, that the job works again; any other successful one
// only when the job's NotifySuccess is on and it fetched files. `report` is
// the engine's report of the run; it is not read for an incomplete job, which
// never reached the engine.
std::optional<RunNotice> noticeForRun(
    RunOutcome outcome, const RunReport& report, const JobSettings& job, bool afterFailure);

// Shows notices on the desktop. A click on one calls `clicked`.
class NotificationSender {
public:
    virtual ~NotificationSender() = default;
    virtual void send(const RunNotice& notice) = 0;

    std::function<void()> clicked;
};

} // namespace taskhaul
