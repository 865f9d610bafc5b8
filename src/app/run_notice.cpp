#include "app/run_notice.h"

#include "scheduler/unattended_run.h"
#include "settings/job_settings.h"
#include "transfer/run_report.h"
#include "transfer/transfer_texts.h"

namespace taskhaul {

namespace {

const QString kDoneTitle = QStringLiteral("Taskhaul: scheduled transfer done");

QString skippedText(const RunReport& report)
{
    const RunReport::Skip& first = report.skipped.front();
    const QString name = displayName(first.remoteName);
    if (report.skipped.size() == 1)
        return QStringLiteral("\"%1\" was not fetched: %2").arg(name, first.reason);
    return QStringLiteral("%1 files were not fetched; \"%2\": %3")
        .arg(report.skipped.size())
        .arg(name, first.reason);
}

// "Taskhaul: scheduled transfer from ftp.example.org failed": which of the
// user's servers is in trouble, at a glance.
RunNotice failedNotice(const QString& site, const QString& reason)
{
    const QString title = site.isEmpty()
        ? QStringLiteral("Taskhaul: scheduled transfer failed")
        : QStringLiteral("Taskhaul: scheduled transfer from %1 failed").arg(site);
    return { title, reason, true, true };
}

QString fetchedText(int fetched, const QString& localFolder)
{
    const QString files = fetched == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(fetched);
    return files + QStringLiteral(" fetched into ") + localFolder + QLatin1Char('.');
}

} // namespace

std::optional<RunNotice> noticeForRun(
    RunOutcome outcome, const RunReport& report, const JobSettings& job, bool afterFailure)
{
    const QString site = job.host.isEmpty() ? QString() : job.siteAddress();
    const auto failed = [&site](const QString& reason) { return failedNotice(site, reason); };
    if (outcome == RunOutcome::Incomplete)
        return failed(QString::fromLatin1(kFieldsRequiredLine));
    if (report.aborted)
        return std::nullopt; // the user stopped it
    if (outcome == RunOutcome::Failed || report.failed()) {
        if (!report.failure.isEmpty())
            return failed(report.failure);
        if (!report.skipped.empty())
            return failed(skippedText(report));
        if (report.listingIncomplete && outcome != RunOutcome::Failed)
            return failed(
                QStringLiteral("The server's listing was incomplete: some files may not have been fetched."));
        return failed(QStringLiteral("The run did not complete. See the activity log."));
    }
    if (afterFailure)
        return RunNotice { QStringLiteral("Taskhaul: scheduled transfer from %1 works again").arg(site),
            QStringLiteral("The run succeeded after failing before. ")
                + (report.fetched > 0 ? fetchedText(report.fetched, job.localFolder)
                                      : QStringLiteral("Nothing new to fetch.")),
            false, true };
    if (!job.notifySuccess || report.fetched == 0)
        return std::nullopt;
    return RunNotice { kDoneTitle, fetchedText(report.fetched, job.localFolder), false, true };
}

} // namespace taskhaul
