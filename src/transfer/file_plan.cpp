#include "transfer/file_plan.h"

#include "transfer/file_template.h"
#include "transfer/leftovers.h"
#include "transfer/transfer_texts.h"

namespace taskhaul {

bool fetchesOneFile(const JobSettings& job)
{
    return job.fileKind == JobSettings::FileKind::OneFile;
}

std::string expandedPattern(const JobSettings& job, const LocalDateTime& now, int sequence)
{
    return ExpandFileTemplate(job.fileName.toStdString(), now, sequence);
}

bool advancesSequence(const JobSettings& job)
{
    const QString field = QStringLiteral("[seq]");
    return fetchesOneFile(job)
        && (job.fileName.contains(field) || (job.rename && job.renameTo.contains(field)));
}

int nextSequence(int sequence)
{
    return sequence >= kSequenceMax ? kSequenceMin : sequence + 1;
}

std::string localNameFor(
    const JobSettings& job, const std::string& remoteName, const LocalDateTime& now, int sequence)
{
    if (fetchesOneFile(job) && job.rename)
        return ExpandFileTemplate(job.renameTo.toStdString(), now, sequence);
    return remoteName;
}

QString localPathFor(const JobSettings& job, const std::string& localName)
{
    return job.localFolder + localFolderSeparator(job.localFolder) + displayName(localName);
}

bool comparesWithLocalCopy(const JobSettings& job)
{
    return job.onlyNewer && !advancesSequence(job);
}

std::vector<PlannedFile> planFiles(const ftp::TFtpListItems& items, const JobSettings& job,
    const LocalDateTime& now, const QDateTime& nowUtc,
    const std::function<LocalFileState(const std::string& localName)>& localFile)
{
    const bool oneFile = fetchesOneFile(job);
    int sequence = job.sequenceStart;
    const std::string pattern = oneFile ? expandedPattern(job, now, sequence) : std::string();

    std::vector<PlannedFile> plan;
    plan.reserve(static_cast<std::size_t>(items.count()));
    for (const ftp::TFtpListItem& item : items) {
        if (item.FileName.empty())
            continue;
        PlannedFile entry;
        entry.remoteName = item.FileName;
        entry.itemType = item.ItemType;
        entry.sequence = sequence;
        entry.listedSize = item.SizeAvailable ? item.Size : -1;
        entry.listedTime = stampFromListing(item);
        if (item.ItemType != ftp::ItemType::File) {
            entry.decision = PlannedFile::Decision::NotPlainFile;
        } else if (oneFile && !MatchFileName(pattern, item.FileName, false)) {
            entry.decision = PlannedFile::Decision::NoMatch;
        } else if (!isSafeLocalName(item.FileName) || isDownloadTemporaryName(item.FileName)) {
            // A name of the download temporaries' form would pass for a
            // leftover of a crashed run, or clash with a live one.
            entry.decision = PlannedFile::Decision::UnsafeName;
        } else {
            entry.localName = localNameFor(job, item.FileName, now, sequence);
            const bool askLocal = !job.overwrite || comparesWithLocalCopy(job);
            const LocalFileState local = askLocal ? localFile(entry.localName) : LocalFileState {};
            if (stillBeingWritten(
                    entry.listedSize, entry.listedSize, entry.listedTime, nowUtc, job.settleSeconds))
                entry.decision = PlannedFile::Decision::StillBeingWritten;
            else if (comparesWithLocalCopy(job) && entry.listedTime
                && unchangedSinceLastTransfer(local, entry.listedSize, *entry.listedTime))
                entry.decision = PlannedFile::Decision::NotChanged;
            else if (!job.overwrite && local.exists)
                entry.decision = PlannedFile::Decision::ExistsNoOverwrite;
            else
                entry.decision = PlannedFile::Decision::Fetch;
            if (advancesSequence(job)
                && (entry.decision == PlannedFile::Decision::Fetch
                    || entry.decision == PlannedFile::Decision::ExistsNoOverwrite))
                sequence = nextSequence(sequence);
        }
        plan.push_back(std::move(entry));
    }
    return plan;
}

} // namespace taskhaul
