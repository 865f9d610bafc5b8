#include "scheduler/unattended_run.h"

#include "log/silent_stop.h"

#include <exception>

namespace taskhaul {

namespace {

// A run has nobody to show an error to: when even the log cannot be written,
// the line is lost and the run goes on.
void logQuietly(SchedulerHost& host, const QString& text)
{
    try {
        host.writeLog(text);
    } catch (const std::exception&) {
    }
}

void logError(SchedulerHost& host, const std::exception& error)
{
    logQuietly(host, QStringLiteral("ERROR: ") + QString::fromUtf8(error.what()));
}

bool siteFieldsComplete(const JobSettings& job)
{
    return job.siteFieldsFilled() && !job.localFolder.isEmpty();
}

} // namespace

RunOutcome performUnattendedRun(RunKind kind, SchedulerHost& host, RunSteps& steps)
{
    const JobSettings job = host.job();
    if (!siteFieldsComplete(job)) {
        logQuietly(host, QString::fromLatin1(kFieldsRequiredLine));
        return RunOutcome::Incomplete;
    }

    try {
        if (kind == RunKind::Daily)
            host.controlsConnected();
        steps.siteConnect();
        steps.changeFolder();
        if (kind == RunKind::Interval)
            host.controlsConnected();
    } catch (const SilentStop&) {
        // Reported by the step, which also closed what it had opened.
        return RunOutcome::Failed;
    } catch (const std::exception& error) {
        logError(host, error);
        try {
            steps.disconnect();
        } catch (const std::exception&) {
        }
        return RunOutcome::Failed;
    }

    bool failed = false;
    try {
        steps.transfer(job.fileKind);
    } catch (const SilentStop&) {
        // An empty name template or a stop: already in the log.
        failed = true;
    } catch (const std::exception& error) {
        // A failed listing above all.
        logError(host, error);
        failed = true;
    }

    try {
        steps.disconnect();
    } catch (const std::exception&) {
        logQuietly(host, QStringLiteral("ERROR: Cannot disconnect at this time."));
        failed = true;
    }
    return failed ? RunOutcome::Failed : RunOutcome::Completed;
}

} // namespace taskhaul
