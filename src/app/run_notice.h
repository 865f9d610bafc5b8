#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace taskhaul {

struct RunReport;
enum class RunOutcome;

// A desktop notification about a scheduled run.
struct RunNotice {
    QString title;
    QString body;
    bool failure = false;

    bool operator==(const RunNotice&) const = default;
};

// What a scheduled run tells the desktop: a failed run (no connection, no
// remote folder, a file skipped, the job incomplete ...) always, with the
// reason; a successful one only when `notifySuccess` is on and it fetched
// files. `report` is the engine's report of the run; it is not read for an
// incomplete job, which never reached the engine.
std::optional<RunNotice> noticeForRun(
    RunOutcome outcome, const RunReport& report, bool notifySuccess, const QString& localFolder);

// Shows notices on the desktop. A click on one calls `clicked`.
class NotificationSender {
public:
    virtual ~NotificationSender() = default;
    virtual void send(const RunNotice& notice) = 0;

    std::function<void()> clicked;
};

} // namespace taskhaul
