// One connection of a run over several: the steps of one file, and the life of
// a further connection on its worker thread.

#include "log/one_line.h"
#include "transfer/fetch_pool.h"
#include "transfer/file_plan.h"

#include <exception>
#include <utility>

namespace taskhaul {

namespace {

const QString kUnsafeName = QStringLiteral("Unsafe file name.");

QString errorText(const std::exception& error)
{
    return oneLine(std::string_view(error.what()));
}

// How a failed call of the site ends the file: a stop, the connection gone
// (lost, or closed by the server's limit when another connection can take the
// file: ConnectionGone), or a skip.
FetchResult failedCall(RemoteSite& site, const SiteError& error, const std::function<bool()>& stopping,
    const std::function<bool()>& mayGiveWay)
{
    if (error.kind() == SiteError::Kind::Aborted || stopping())
        return FetchResult { FetchResult::Kind::Stopped, {}, false, -1, 0 };
    if (error.kind() == SiteError::Kind::ServerLimit && mayGiveWay())
        throw ConnectionGone { false, errorText(error) };
    if (error.kind() == SiteError::Kind::Connection || error.kind() == SiteError::Kind::ServerLimit) {
        bool connected = false;
        try {
            connected = site.connected();
        } catch (const std::exception&) {
        }
        if (!connected)
            throw ConnectionGone { true, errorText(error) };
    }
    return FetchResult { FetchResult::Kind::Skipped, errorText(error), false, -1, 0 };
}

} // namespace

FetchResult fetchOnSite(RemoteSite& site, const JobSettings& job, const FetchFile& task,
    const QDateTime& nowUtc, const std::function<void(std::int64_t)>& started,
    const std::function<bool()>& stopping, const std::function<bool()>& mayGiveWay)
{
    const PlannedFile& file = *task.file;
    const std::string& name = file.remoteName;
    FetchResult result;
    if (file.decision == PlannedFile::Decision::UnsafeName) {
        result.reason = kUnsafeName;
        return result;
    }
    if (const QString problem = localTargetProblem(task.localPath); !problem.isEmpty()) {
        result.reason = oneLine(problem);
        return result;
    }

    FileFacts facts;
    facts.listedSize = file.listedSize;
    try {
        // The listing's size saves a round trip; the download is checked
        // against it as against the server's answer. Files that must have
        // settled are asked, since a size that changed since the listing
        // tells that the file is still being written.
        if (job.settleSeconds == 0 && file.listedSize >= 0)
            site.expectSize(name, file.listedSize);
        else
            facts.queriedSize = site.fileSize(name);
        if (comparesWithLocalCopy(job) || job.settleSeconds > 0)
            facts.remoteTime = site.fileTime(name, file.listedTime);
    } catch (const SiteError& error) {
        return failedCall(site, error, stopping, mayGiveWay);
    }
    if (comparesWithLocalCopy(job))
        facts.local = localFileState(task.localPath);
    switch (decideFile(job, facts, nowUtc)) {
    case PlannedFile::Decision::StillBeingWritten:
        result.kind = FetchResult::Kind::StillBeingWritten;
        return result;
    case PlannedFile::Decision::NotChanged:
        result.kind = FetchResult::Kind::NotChanged;
        return result;
    default:
        break;
    }
    if (stopping())
        return FetchResult { FetchResult::Kind::Stopped, {}, false, -1, 0 };

    result.announcedSize = facts.queriedSize >= 0 ? facts.queriedSize : file.listedSize;
    started(result.announcedSize);
    try {
        site.retrieve(name, task.localPath, job.overwrite);
    } catch (const SiteError& error) {
        return failedCall(site, error, stopping, mayGiveWay);
    }
    result.kind = FetchResult::Kind::Fetched;
    if (comparesWithLocalCopy(job) && facts.remoteTime)
        setModificationTime(task.localPath, facts.remoteTime->utc);
    result.received = result.announcedSize < 0 ? localFileSize(task.localPath) : result.announcedSize;
    return result;
}

namespace {

// Logs in and enters the folder; tells the main thread whether it worked.
bool connectFurther(int connection, FetchPool& pool, RemoteSite& site, const JobSettings& job)
{
    FetchNotice refused { FetchNotice::Kind::NotAccepted, connection, 0, -1, {}, {}, std::nullopt };
    try {
        site.connect();
        if (!job.remoteFolder.isEmpty())
            site.enterFolder(job.remoteFolder.toStdString());
        pool.tell({ FetchNotice::Kind::Connected, connection, 0, -1, {}, {}, std::nullopt });
        return true;
    } catch (const SiteIdentityError& error) {
        // Another certificate or host key than the main connection was shown:
        // the one case of a refused connection that the run must not pass over.
        refused.text = errorText(error);
        refused.identity = error.identity();
    } catch (const std::exception& error) {
        refused.text = errorText(error);
    }
    pool.tell(std::move(refused));
    try {
        site.disconnect();
    } catch (const std::exception&) {
    }
    return false;
}

} // namespace

void workOnConnection(int connection, std::shared_ptr<FetchPool> pool, std::unique_ptr<RemoteSite> site,
    std::shared_ptr<std::atomic<bool>> aborted, JobSettings job, QDateTime startUtc, QElapsedTimer clock)
{
    const auto stopping = [&pool] { return pool->stopping(); };
    const auto mayGiveWay = [] { return true; };
    if (!connectFurther(connection, *pool, *site, job)) {
        site.reset();
        pool->tell({ FetchNotice::Kind::Ended, connection, 0, -1, {}, {}, std::nullopt });
        return;
    }
    std::int64_t counted = 0;
    site->onProgress = [&pool, &counted](std::int64_t received) {
        pool->workerBytes += received - counted;
        counted = received;
    };
    bool gone = false;
    while (!gone) {
        std::optional<FetchTask> task = pool->take(true);
        if (!task)
            break;
        for (std::size_t i = 0; i < task->files.size() && !gone && !pool->stopping(); ++i) {
            counted = 0;
            const std::size_t slot = task->files[i].slot;
            try {
                FetchResult result = fetchOnSite(
                    *site, job, task->files[i], startUtc.addMSecs(clock.elapsed()),
                    [&pool, connection, slot](std::int64_t size) {
                        pool->tell(
                            { FetchNotice::Kind::Started, connection, slot, size, {}, {}, std::nullopt });
                    },
                    stopping, mayGiveWay);
                pool->workerBytes -= counted;
                pool->tell({ FetchNotice::Kind::Finished, connection, slot, -1, std::move(result), {},
                    std::nullopt });
            } catch (const ConnectionGone& end) {
                pool->workerBytes -= counted;
                gone = true;
                FetchTask rest;
                rest.files.assign(task->files.begin() + static_cast<std::ptrdiff_t>(i), task->files.end());
                pool->handBack(std::move(rest),
                    { end.lost ? FetchNotice::Kind::Lost : FetchNotice::Kind::Limited, connection, slot, -1,
                        {}, end.why, std::nullopt });
            }
        }
        if (!gone)
            pool->taskDone();
    }
    site->onProgress = nullptr;
    // A stopped connection is closed at once; one that ran out of files, or
    // that the server's limit leaves idle, says goodbye.
    if (!*aborted && !pool->stopping()) {
        try {
            site->disconnect();
        } catch (const std::exception&) {
        }
    }
    site.reset();
    pool->tell({ FetchNotice::Kind::Ended, connection, 0, -1, {}, {}, std::nullopt });
}

} // namespace taskhaul
