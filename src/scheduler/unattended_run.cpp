#include "scheduler/unattended_run.h"

#include "log/silent_stop.h"

#include <algorithm>
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

std::optional<int> RunAttempts::afterAttempt(SchedulerHost& host, const RunSteps& steps)
{
    const std::vector<std::string> fetched = steps.fetchedNames();
    fetchedSoFar_.insert(fetchedSoFar_.end(), fetched.begin(), fetched.end());
    if (!steps.lostConnection())
        return std::nullopt;
    return nextRetry(host);
}

std::optional<int> RunAttempts::afterSkippedAttempt(SchedulerHost& host)
{
    return nextRetry(host);
}

std::optional<int> RunAttempts::nextRetry(SchedulerHost& host)
{
    const JobSettings job = host.job();
    if (retriesDone_ >= job.retries)
        return std::nullopt;
    ++retriesDone_;
    const int minutes = std::clamp(job.retryDelayMinutes, kRetryDelayMinutesMin, kRetryDelayMinutesMax);
    logQuietly(host,
        QStringLiteral("Retrying in %1 minute(s) (attempt %2 of %3).")
            .arg(minutes)
            .arg(retriesDone_)
            .arg(job.retries));
    return minutes;
}

void RunAttempts::prepareRetry(RunSteps& steps) const
{
    steps.leaveOut(fetchedSoFar_);
}

RunOutcome performRunWithRetries(RunKind kind, SchedulerHost& host, RunSteps& steps,
    const std::function<bool(int minutes)>& wait, const std::function<QString()>& skipReason)
{
    RunAttempts attempts;
    bool skipped = false;
    const auto attempt = [&] {
        const QString reason = skipReason ? skipReason() : QString();
        skipped = !reason.isEmpty();
        if (!skipped)
            return performUnattendedRun(kind, host, steps);
        logQuietly(host, QStringLiteral("Run skipped: ") + reason);
        return RunOutcome::Failed;
    };
    RunOutcome outcome = attempt();
    while (outcome != RunOutcome::Incomplete) {
        const std::optional<int> minutes
            = skipped ? attempts.afterSkippedAttempt(host) : attempts.afterAttempt(host, steps);
        if (!minutes || !wait(*minutes))
            break;
        attempts.prepareRetry(steps);
        outcome = attempt();
    }
    return outcome;
}

} // namespace taskhaul
