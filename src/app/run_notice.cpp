#include "app/run_notice.h"

#include "scheduler/unattended_run.h"
#include "transfer/run_report.h"
#include "transfer/transfer_texts.h"

namespace taskhaul {

namespace {

const QString kFailedTitle = QStringLiteral("Taskhaul: scheduled transfer failed");
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

RunNotice failed(const QString& reason)
{
    return { kFailedTitle, reason, true };
}

} // namespace

std::optional<RunNotice> noticeForRun(
    RunOutcome outcome, const RunReport& report, bool notifySuccess, const QString& localFolder)
{
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
    if (!notifySuccess || report.fetched == 0)
        return std::nullopt;
    const QString files
        = report.fetched == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(report.fetched);
    return RunNotice { kDoneTitle, files + QStringLiteral(" fetched into ") + localFolder + QLatin1Char('.'),
        false };
}

} // namespace taskhaul
