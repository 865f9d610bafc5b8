// A run over several connections at once. The engine's own connection (the
// main thread's, which listed the folder) fetches files, and so does each
// further connection, made by the site source for a worker thread of its own.
// Files are handed out in the plan's order; the main thread takes in what the
// workers tell, in slices of at most 50 ms, and writes each file's log lines
// in the plan's order once the file and every file before it have ended.

#include "base/scope_exit.h"
#include "log/one_line.h"
#include "transfer/fetch_pool.h"
#include "transfer/file_plan.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

#include <QElapsedTimer>

#include <chrono>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

namespace taskhaul {

namespace {

// How long the main thread waits for the connections' news before it lets the
// window's events run: short, so that the window stays as responsive while it
// waits for the others as during a download of its own.
constexpr std::chrono::milliseconds kEventSlice { 20 };

using namespace std::chrono_literals;

const QString kUnsafeName = QStringLiteral("Unsafe file name.");

// The connection a file was fetched on is gone: the file goes back for
// another connection, and this one fetches no more.
struct ConnectionGone {
    QString why;
};

bool gone(RemoteSite& site, const SiteError& error)
{
    if (error.kind() != SiteError::Kind::Connection)
        return false;
    try {
        return !site.connected();
    } catch (const std::exception&) {
        return true;
    }
}

// The steps of one file on one connection, as the one-connection run takes
// them: size, time, the decision with the local folder as it is now, the
// download. Tells nobody but `started`; raises ConnectionGone.
FetchResult fetchOnSite(RemoteSite& site, const JobSettings& job, const FetchTask& task,
    const QDateTime& nowUtc, const std::function<void(std::int64_t)>& started,
    const std::function<bool()>& stopping)
{
    const PlannedFile& file = *task.file;
    const std::string& name = file.remoteName;
    FetchResult result;
    const auto skipped = [&](const std::exception& error) {
        result.kind = FetchResult::Kind::Skipped;
        result.reason = oneLine(std::string_view(error.what()));
        return result;
    };
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
        if (stopping())
            return FetchResult { FetchResult::Kind::Stopped, {}, false, -1, 0 };
        if (gone(site, error))
            throw ConnectionGone { oneLine(std::string_view(error.what())) };
        return skipped(error);
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
        if (error.kind() == SiteError::Kind::Aborted || stopping())
            return FetchResult { FetchResult::Kind::Stopped, {}, false, -1, 0 };
        if (gone(site, error))
            throw ConnectionGone { oneLine(std::string_view(error.what())) };
        return skipped(error);
    }
    result.kind = FetchResult::Kind::Fetched;
    if (comparesWithLocalCopy(job) && facts.remoteTime)
        setModificationTime(task.localPath, facts.remoteTime->utc);
    result.received = result.announcedSize < 0 ? localFileSize(task.localPath) : result.announcedSize;
    return result;
}

// A further connection: its own site, on its own thread, fetching until no
// file is left or the run stops. It never touches the host.
void workOnConnection(std::shared_ptr<FetchPool> pool, std::unique_ptr<RemoteSite> site,
    std::shared_ptr<std::atomic<bool>> aborted, JobSettings job, QDateTime startUtc, QElapsedTimer clock)
{
    const auto stopping = [&pool] { return pool->stopping(); };
    try {
        site->connect();
        if (!job.remoteFolder.isEmpty())
            site->enterFolder(job.remoteFolder.toStdString());
    } catch (const std::exception& error) {
        pool->tell({ FetchNotice::Kind::NotAccepted, 0, -1, {}, oneLine(std::string_view(error.what())) });
        try {
            site->disconnect();
        } catch (const std::exception&) {
        }
        site.reset();
        pool->tell({ FetchNotice::Kind::Ended, 0, -1, {}, {} });
        return;
    }
    pool->tell({ FetchNotice::Kind::Connected, 0, -1, {}, {} });
    std::int64_t counted = 0;
    site->onProgress = [&pool, &counted](std::int64_t received) {
        pool->workerBytes += received - counted;
        counted = received;
    };
    while (auto task = pool->take(true)) {
        counted = 0;
        const QDateTime nowUtc = startUtc.addMSecs(clock.elapsed());
        try {
            const std::size_t slot = task->slot;
            FetchResult result = fetchOnSite(
                *site, job, *task, nowUtc,
                [&pool, slot](std::int64_t size) {
                    pool->tell({ FetchNotice::Kind::Started, slot, size, {}, {} });
                },
                stopping);
            pool->workerBytes -= counted;
            pool->done(result, slot);
        } catch (const ConnectionGone& lost) {
            pool->workerBytes -= counted;
            pool->handBack(std::move(*task), lost.why);
            break;
        }
    }
    site->onProgress = nullptr;
    // A stopped connection is closed at once; one that ran out of files says goodbye.
    if (!*aborted && !pool->stopping()) {
        try {
            site->disconnect();
        } catch (const std::exception&) {
        }
    }
    site.reset();
    pool->tell({ FetchNotice::Kind::Ended, 0, -1, {}, {} });
}

} // namespace

void TransferEngine::fetchAtOnce(Mode mode, const JobSettings& job,
    const std::vector<const PlannedFile*>& files, int connections, bool& stopped)
{
    // Every file's local name, decided now: no name of such a run follows
    // the sequence number (see connectionsFor).
    const LocalDateTime now = host_.currentTime();
    std::deque<FetchTask> tasks;
    std::vector<FetchTask> runOrder;
    std::vector<bool> settled;
    std::int64_t bytesTotal = 0;
    for (const PlannedFile* file : files) {
        FetchTask task;
        task.slot = runOrder.size();
        task.file = file;
        task.localName = localNameFor(job, file->remoteName, now, sequence_);
        task.localPath = localPathFor(job, task.localName);
        runOrder.push_back(task);
        settled.push_back(settledByListing(*file));
        if (!settled.back()) {
            tasks.push_back(task);
            if (bytesTotal >= 0)
                bytesTotal = file->listedSize >= 0 ? bytesTotal + file->listedSize : -1;
        }
    }
    auto pool = std::make_shared<FetchPool>(std::move(tasks));
    const QDateTime startUtc = utcNow();
    QElapsedTimer clock;
    clock.start();

    // The further connections, each on a thread of its own. A site the source
    // cannot make, or a job value it refuses, leaves the run with fewer.
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> aborted;
    };
    std::vector<Worker> workers;
    // However this ends (a log that cannot be written raises), no worker
    // outlives the run: each is stopped, its temporary removed, and joined.
    const base::ScopeExit joinWorkers { [&pool, &workers]() noexcept {
        pool->stop();
        for (Worker& worker : workers)
            if (worker.thread.joinable())
                worker.thread.join();
    } };
    for (int n = 1; n < connections; ++n) {
        auto aborted = std::make_shared<std::atomic<bool>>(false);
        // The worker's pump: stops the call in progress once the run stops.
        std::shared_ptr<RemoteSite*> siteOf = std::make_shared<RemoteSite*>(nullptr);
        std::unique_ptr<RemoteSite> site = sites_.newSite(job, [pool, aborted, siteOf] {
            if (pool->stopping() && *siteOf && !aborted->exchange(true))
                (*siteOf)->interrupt();
        });
        if (!site)
            break;
        try {
            site->configure(job, connectTrusted_);
        } catch (const std::exception&) {
            break;
        }
        *siteOf = site.get();
        workers.push_back(
            { std::thread(workOnConnection, pool, std::move(site), aborted, job, startUtc, clock), aborted });
    }
    const int attempted = 1 + static_cast<int>(workers.size());
    int pending = static_cast<int>(workers.size()); // further connections still connecting
    int accepted = 1;
    bool mainAlive = true;
    int running = static_cast<int>(workers.size()); // worker threads not yet ended
    QString lastLoss;

    std::vector<std::optional<FetchResult>> results(runOrder.size());
    std::size_t written = 0;
    int filesDone = 0;
    std::int64_t bytesDone = 0;
    std::int64_t mainBytes = 0;
    report_.connections = 1;

    const auto tellProgress = [&] {
        if (events_.runProgress)
            events_.runProgress({ filesDone, static_cast<int>(runOrder.size()),
                bytesDone + mainBytes + pool->workerBytes, bytesTotal });
    };
    // Writes the lines of every file that has ended and follows the files
    // already written, in the plan's order.
    const auto writeEnded = [&] {
        while (written < runOrder.size()) {
            const FetchTask& task = runOrder[written];
            const std::string& name = task.file->remoteName;
            if (settled[written]) {
                passOverSettled(mode, job, *task.file);
            } else if (results[written]) {
                const FetchResult& result = *results[written];
                const QString transferring = oneLine(transferringLine(job, name, task.localName));
                host_.setStatusText(transferring);
                if (result.kind != FetchResult::Kind::NotChanged)
                    host_.writeLog(transferring);
                switch (result.kind) {
                case FetchResult::Kind::Fetched:
                    ++report_.fetched;
                    report_.fetchedNames.push_back(name);
                    fileFinished(name, FileFinished::Outcome::Fetched);
                    report(QStringLiteral("Data transfer complete (")
                        + completedByteCount(result.announcedSize, result.received, groupSeparator_)
                        + QStringLiteral(" Bytes)"));
                    break;
                case FetchResult::Kind::Skipped:
                    if (result.connectionBroke)
                        report_.connectionBroke = true;
                    reportSkip(mode, name, result.reason);
                    break;
                case FetchResult::Kind::StillBeingWritten:
                    passOver(mode, name, QStringLiteral("The file is still being written."));
                    break;
                case FetchResult::Kind::NotChanged:
                    passOverUnchanged(mode, name);
                    break;
                case FetchResult::Kind::Stopped:
                    fileFinished(name, FileFinished::Outcome::Stopped);
                    break;
                }
            } else {
                return;
            }
            ++written;
        }
    };
    const auto takeNews = [&] {
        for (FetchNotice& notice : pool->takeNotices()) {
            switch (notice.kind) {
            case FetchNotice::Kind::Connected:
                --pending;
                ++accepted;
                break;
            case FetchNotice::Kind::NotAccepted:
                --pending;
                break;
            case FetchNotice::Kind::Started:
                if (fileStarted_)
                    fileStarted_(
                        { *runOrder[notice.slot].file, runOrder[notice.slot].localName, notice.size });
                break;
            case FetchNotice::Kind::Finished:
                if (notice.result.kind == FetchResult::Kind::Fetched)
                    bytesDone += notice.result.received;
                ++filesDone;
                results[notice.slot] = std::move(notice.result);
                break;
            case FetchNotice::Kind::Lost:
                lastLoss = notice.text;
                break;
            case FetchNotice::Kind::Ended:
                --running;
                break;
            }
        }
    };
    bool acceptanceTold = false;
    bool stopSeen = false;
    bool finishing = false;
    const auto tick = [&] {
        takeNews();
        if (!acceptanceTold && pending <= 0) {
            acceptanceTold = true;
            if (accepted < attempted)
                report(QStringLiteral("The server accepted only %1 connection(s).").arg(accepted));
        }
        if (!stopSeen && stopRequested()) {
            stopSeen = true;
            // This connection's call is stopped by whoever asked (Stop Transfer,
            // the pump of a program that got a termination signal).
            pool->stop();
        }
        writeEnded();
        tellProgress();
    };
    bool ticking = false;
    fetchTick_ = [&](std::int64_t received) {
        mainBytes = received;
        // Not inside itself: the log and the events it tells may pump.
        if (std::exchange(ticking, true))
            return;
        tick();
        ticking = false;
    };
    struct TickEnds {
        std::function<void(std::int64_t)>& tick;
        ~TickEnds() { tick = nullptr; }
    } tickEnds { fetchTick_ };

    tellProgress();
    while (true) {
        tick();
        if (stopSeen)
            break;
        std::optional<FetchTask> task;
        if (mainAlive)
            task = pool->take(false);
        if (task) {
            mainBytes = 0;
            const std::size_t slot = task->slot;
            try {
                FetchResult result = fetchOnSite(
                    *site_, job, *task, startUtc.addMSecs(clock.elapsed()),
                    [&](std::int64_t size) {
                        if (fileStarted_)
                            fileStarted_({ *task->file, task->localName, size });
                    },
                    [this] { return stopRequested(); });
                mainBytes = 0;
                pool->done(result, slot);
            } catch (const ConnectionGone& lost) {
                mainBytes = 0;
                mainAlive = false;
                pool->handBack(std::move(*task), lost.why);
            }
            continue;
        }
        // Nothing to take now: done, or waiting for the others.
        if (running == 0 && pending <= 0) {
            if (pool->queueEmpty())
                break;
            if (!mainAlive) {
                // Every connection is gone: what is left is skipped, and the
                // run counts as one that lost its connection.
                for (const FetchTask& left : pool->takeRemaining())
                    pool->done(FetchResult { FetchResult::Kind::Skipped, lastLoss, true, -1, 0 }, left.slot);
                continue;
            }
        }
        // Every file has ended while a further connection still tries to log
        // in (a silent server): it is not waited for.
        if (!finishing && pending > 0 && pool->idle()) {
            finishing = true;
            acceptanceTold = true;
            pool->stop();
        }
        pool->waitForNews(kEventSlice);
        host_.processPendingEvents();
    }
    // Stopped: every connection ends its call, and its temporary with it.
    if (stopSeen) {
        pool->stop();
        while (running > 0) {
            pool->waitForNews(kEventSlice);
            takeNews();
            host_.processPendingEvents();
        }
    }
    fetchTick_ = nullptr;
    for (Worker& worker : workers)
        worker.thread.join();
    takeNews();
    // After a stop, the files no connection had begun are left for the next
    // run, and what ended after them is written all the same.
    writeEnded();
    while (stopSeen && written < runOrder.size()) {
        ++written;
        writeEnded();
    }
    tellProgress();
    report_.connections = accepted;
    if (stopSeen) {
        actOnStop();
        stopped = true;
    }
}

} // namespace taskhaul
