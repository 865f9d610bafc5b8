#include "transfer/file_plan.h"

#include "transfer/file_template.h"
#include "transfer/leftovers.h"
#include "transfer/transfer_texts.h"

#include <QFile>

#include <algorithm>
#include <set>
#include <string_view>

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

int connectionsFor(const JobSettings& job)
{
    if (advancesSequence(job))
        return 1;
    return std::clamp(job.connections, 1, kConnectionsMax);
}

std::size_t separateDownloads(const std::vector<const PlannedFile*>& files)
{
    std::set<std::string_view> names;
    std::size_t unnamed = 0;
    for (const PlannedFile* file : files) {
        if (file->localName.empty())
            ++unnamed;
        else
            names.insert(file->localName);
    }
    return names.size() + unnamed;
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

std::string localPathFor(const JobSettings& job, const std::string& localName)
{
    const QByteArray folder = QFile::encodeName(job.localFolder + localFolderSeparator(job.localFolder));
    return folder.toStdString() + localName;
}

bool comparesWithLocalCopy(const JobSettings& job)
{
    return job.onlyNewer && !advancesSequence(job);
}

PlannedFile::Decision decideFile(const JobSettings& job, const FileFacts& facts, const QDateTime& nowUtc)
{
    const std::int64_t remoteSize = facts.queriedSize >= 0 ? facts.queriedSize : facts.listedSize;
    if (stillBeingWritten(facts.listedSize, facts.queriedSize, facts.remoteTime, nowUtc, job.settleSeconds))
        return PlannedFile::Decision::StillBeingWritten;
    if (comparesWithLocalCopy(job) && facts.remoteTime
        && unchangedSinceLastTransfer(facts.local, remoteSize, *facts.remoteTime))
        return PlannedFile::Decision::NotChanged;
    if (!job.overwrite && facts.local.exists)
        return PlannedFile::Decision::ExistsNoOverwrite;
    return PlannedFile::Decision::Fetch;
}

int sequenceAfter(const JobSettings& job, int sequence, bool fetched)
{
    return fetched && advancesSequence(job) ? nextSequence(sequence) : sequence;
}

std::vector<PlannedFile> planFiles(const std::vector<RemoteEntry>& items, const JobSettings& job,
    const LocalDateTime& now, const QDateTime& nowUtc,
    const std::function<LocalFileState(const std::string& localName)>& localFile)
{
    const bool oneFile = fetchesOneFile(job);
    int sequence = job.sequenceStart;
    const std::string pattern = oneFile ? expandedPattern(job, now, sequence) : std::string();

    std::vector<PlannedFile> plan;
    plan.reserve(items.size());
    for (const RemoteEntry& item : items) {
        if (item.name.empty())
            continue;
        PlannedFile entry;
        entry.remoteName = item.name;
        entry.kindName = item.kindName;
        entry.sequence = sequence;
        entry.listedSize = item.size;
        // (Assigned only when present: GCC 12 takes a copy of an empty one for
        // a read of uninitialised memory.)
        if (item.time)
            entry.listedTime.emplace(*item.time);
        if (!item.plainFile) {
            entry.decision = PlannedFile::Decision::NotPlainFile;
        } else if (oneFile && !MatchFileName(pattern, item.name, false)) {
            entry.decision = PlannedFile::Decision::NoMatch;
        } else if (!isSafeLocalName(item.name) || isDownloadTemporaryName(item.name)) {
            // A name of the download temporaries' form would pass for a
            // leftover of a crashed run, or clash with a live one.
            entry.decision = PlannedFile::Decision::UnsafeName;
        } else {
            entry.localName = localNameFor(job, item.name, now, sequence);
            const bool askLocal = !job.overwrite || comparesWithLocalCopy(job);
            FileFacts facts;
            facts.listedSize = entry.listedSize;
            facts.remoteTime = entry.listedTime;
            facts.local = askLocal ? localFile(entry.localName) : LocalFileState {};
            entry.decision = decideFile(job, facts, nowUtc);
            sequence = sequenceAfter(job, sequence, entry.decision == PlannedFile::Decision::Fetch);
        }
        plan.push_back(std::move(entry));
    }
    return plan;
}

} // namespace taskhaul
