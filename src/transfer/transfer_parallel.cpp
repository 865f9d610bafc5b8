// A run over several connections at once. The engine's own connection (the
// main thread's, which listed the folder) fetches files, and so does each
// further connection, made by the site source for a worker thread of its own.
// Files are handed out in the plan's order; the main thread takes in what the
// workers tell, in slices of at most 20 ms, and writes each line to the log as
// its event comes: a download's "Transferring" line when it begins, its end
// when it ends. With several files in flight the lines that end a file name it.

#include "log/one_line.h"
#include "transfer/fetch_pool.h"
#include "transfer/file_plan.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_texts.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <utility>

namespace taskhaul {

namespace {

// How long the main thread waits for the connections' news before it lets the
// window's events run: short, so that the window stays as responsive while it
// waits for the others as during a download of its own.
constexpr std::chrono::milliseconds kEventSlice { 20 };

// The warning for a further connection that was shown another certificate or
// host key than the main connection: the run fails, whatever it fetched.
QString identityChangedLine(int connection, const SiteIdentity& identity)
{
    if (identity.kind == SiteIdentity::Kind::HostKey)
        return QStringLiteral(
            "The server's host key has changed: connection %1 was shown the key %2, not the key of the "
            "first connection, and was refused. Someone may be intercepting the connection.")
            .arg(connection)
            .arg(identity.shownFingerprint);
    return QStringLiteral(
        "The server's certificate has changed: connection %1 was shown the certificate with the "
        "SHA-256 fingerprint %2, not the certificate of the first connection, and was refused. Someone "
        "may be intercepting the connection.")
        .arg(connection)
        .arg(identity.shownFingerprint);
}

} // namespace

// The state of one run over several connections, kept by the main thread.
class TransferEngine::ParallelRun {
public:
    ParallelRun(TransferEngine& engine, Mode mode, const JobSettings& job)
        : engine_(engine)
        , host_(engine.host_)
        , mode_(mode)
        , job_(job)
    {
    }
    // However the run ends (a log that cannot be written raises), no worker
    // outlives it: each is stopped, its temporary removed, and joined.
    ~ParallelRun()
    {
        if (pool_)
            pool_->stop();
        for (Worker& worker : workers_)
            if (worker.thread.joinable())
                worker.thread.join();
    }
    ParallelRun(const ParallelRun&) = delete;
    ParallelRun& operator=(const ParallelRun&) = delete;

    void run(const std::vector<const PlannedFile*>& files, int connections, bool& stopped);

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> aborted;
    };
    enum class Connection { LoggingIn, Working, Gone };

    void planTasks(const std::vector<const PlannedFile*>& files);
    void startWorkers(int connections);
    void tick();
    void tellProgress();
    void handle(FetchNotice& notice);
    void tellAcceptance();
    void fileStarted(std::size_t slot, std::int64_t size);
    void announce(std::size_t slot);
    void fileEnded(std::size_t slot, const FetchResult& result);
    bool fetchOnMain();
    void skipRemaining();
    void endStopped();
    // Further connections that log in or fetch: the main connection gives way
    // to them at the server's limit.
    int others() const
    {
        return static_cast<int>(std::count_if(
            states_.begin(), states_.end(), [](Connection state) { return state != Connection::Gone; }));
    }

    TransferEngine& engine_;
    TransferHost& host_;
    const Mode mode_;
    const JobSettings& job_;
    std::vector<FetchFile> runOrder_;
    std::vector<bool> announced_;
    std::vector<std::size_t> fetchedSlots_;
    std::shared_ptr<FetchPool> pool_;
    std::vector<Worker> workers_;
    // Each further connection's state, by its number less 2.
    std::vector<Connection> states_;
    QDateTime startUtc_;
    QElapsedTimer clock_;

    int attempted_ = 1;
    int pending_ = 0; // further connections still logging in
    int accepted_ = 1;
    int running_ = 0; // worker threads not yet ended
    int limitClosed_ = 0; // further connections the server's limit closed
    int identityRefused_ = 0;
    int refused_ = 0; // further connections that could not log in
    bool mainAlive_ = true;
    // The main connection gave way to the others at the server's limit: it
    // takes files again once no further connection is left.
    bool mainGaveWay_ = false;
    bool acceptanceTold_ = false;
    bool stopSeen_ = false;
    bool finishing_ = false;
    bool ticking_ = false;
    QString lastLoss_;

    int filesDone_ = 0;
    std::int64_t bytesTotal_ = 0;
    std::int64_t bytesDone_ = 0;
    std::int64_t mainBytes_ = 0;
};

void TransferEngine::ParallelRun::planTasks(const std::vector<const PlannedFile*>& files)
{
    // Every file's local name, decided now: no name of such a run follows the
    // sequence number (see connectionsFor). Files stored under one name make
    // one task, fetched in the plan's order on one connection.
    const LocalDateTime now = host_.currentTime();
    std::deque<FetchTask> tasks;
    std::map<std::string, std::size_t> taskOfPath;
    for (const PlannedFile* file : files) {
        FetchFile entry;
        entry.slot = runOrder_.size();
        entry.file = file;
        entry.localName = localNameFor(job_, file->remoteName, now, engine_.sequence_);
        entry.localPath = localPathFor(job_, entry.localName);
        runOrder_.push_back(entry);
        if (settledByListing(*file))
            continue;
        if (bytesTotal_ >= 0)
            bytesTotal_ = file->listedSize >= 0 ? bytesTotal_ + file->listedSize : -1;
        const auto [at, added] = taskOfPath.try_emplace(entry.localPath, tasks.size());
        if (added)
            tasks.emplace_back();
        tasks[at->second].files.push_back(std::move(entry));
    }
    announced_.assign(runOrder_.size(), false);
    pool_ = std::make_shared<FetchPool>(std::move(tasks));
    // A file the listing settled needs no connection at all.
    for (const FetchFile& entry : runOrder_)
        if (settledByListing(*entry.file)) {
            engine_.passOverSettled(mode_, job_, *entry.file);
            ++filesDone_;
        }
}

void TransferEngine::ParallelRun::startWorkers(int connections)
{
    // The further connections, each on a thread of its own. A site the source
    // cannot make, or a job value it refuses, leaves the run with fewer.
    for (int number = 2; number <= connections; ++number) {
        auto aborted = std::make_shared<std::atomic<bool>>(false);
        // The worker's pump: stops the call in progress once the run stops.
        auto siteOf = std::make_shared<RemoteSite*>(nullptr);
        const std::shared_ptr<FetchPool> pool = pool_;
        std::unique_ptr<RemoteSite> site = engine_.sites_.newSite(job_, [pool, aborted, siteOf] {
            if (pool->stopping() && *siteOf && !aborted->exchange(true))
                (*siteOf)->interrupt();
        });
        if (!site)
            break;
        try {
            site->configure(job_, engine_.connectTrusted_);
        } catch (const std::exception&) {
            break;
        }
        *siteOf = site.get();
        workers_.push_back(
            { std::thread(workOnConnection, number, pool_, std::move(site), aborted, job_, startUtc_, clock_),
                aborted });
        states_.push_back(Connection::LoggingIn);
    }
    attempted_ = 1 + static_cast<int>(workers_.size());
    pending_ = running_ = static_cast<int>(workers_.size());
}

void TransferEngine::ParallelRun::tellProgress()
{
    if (engine_.events_.runProgress)
        engine_.events_.runProgress({ filesDone_, static_cast<int>(runOrder_.size()),
            bytesDone_ + mainBytes_ + pool_->workerBytes, bytesTotal_ });
}

void TransferEngine::ParallelRun::tick()
{
    // Not inside itself: the log and the events it tells may pump.
    if (std::exchange(ticking_, true))
        return;
    struct Done {
        bool& ticking;
        ~Done() { ticking = false; }
    } done { ticking_ };
    for (FetchNotice& notice : pool_->takeNotices())
        handle(notice);
    if (!stopSeen_ && engine_.stopRequested()) {
        stopSeen_ = true;
        // This connection's call is stopped by whoever asked (Stop Transfer,
        // the pump of a program that got a termination signal).
        pool_->stop();
    }
    tellProgress();
}

void TransferEngine::ParallelRun::handle(FetchNotice& notice)
{
    Connection* state
        = notice.connection >= 2 && static_cast<std::size_t>(notice.connection - 2) < states_.size()
        ? &states_[static_cast<std::size_t>(notice.connection - 2)]
        : nullptr;
    switch (notice.kind) {
    case FetchNotice::Kind::Connected:
        --pending_;
        ++accepted_;
        if (state)
            *state = Connection::Working;
        break;
    case FetchNotice::Kind::NotAccepted:
        --pending_;
        if (state)
            *state = Connection::Gone;
        // A login the run's own stop cut short was not refused by the server.
        if (!notice.identity && !pool_->stopping())
            ++refused_;
        if (notice.identity) {
            ++identityRefused_;
            const QString warning = identityChangedLine(notice.connection, *notice.identity);
            if (engine_.report_.failure.isEmpty())
                engine_.report_.failure = warning;
            engine_.report(QStringLiteral("WARNING: ") + warning);
        }
        break;
    case FetchNotice::Kind::Started:
        fileStarted(notice.slot, notice.size);
        break;
    case FetchNotice::Kind::Finished:
        fileEnded(notice.slot, notice.result);
        break;
    case FetchNotice::Kind::Lost:
        lastLoss_ = notice.text;
        if (state)
            *state = Connection::Gone;
        engine_.report(QStringLiteral("Connection %1 was lost; its file goes back to the queue.")
                           .arg(notice.connection));
        // The FTP client tells no end of a connection that the server closed:
        // the main connection's is said here, once, as the site would say it.
        if (notice.connection == 1 && !std::exchange(engine_.disconnectAnnounced_, true))
            host_.writeLog(job_.userName + QStringLiteral(" disconnected from ") + job_.host);
        break;
    case FetchNotice::Kind::Limited:
        if (state) {
            *state = Connection::Gone;
            ++limitClosed_;
        }
        break;
    case FetchNotice::Kind::Ended:
        --running_;
        if (state)
            *state = Connection::Gone;
        break;
    }
}

// "The server accepted only K connection(s).", once, when the files have
// ended: K counts the connections asked for, less those the server refused
// and those its limit closed later. A login still under way then (it is not
// waited for) counts as accepted. A connection refused for its certificate or
// host key has its own warning.
void TransferEngine::ParallelRun::tellAcceptance()
{
    if (acceptanceTold_ || refused_ + limitClosed_ == 0)
        return;
    const int kept = attempted_ - identityRefused_ - refused_ - limitClosed_;
    acceptanceTold_ = true;
    engine_.report(QStringLiteral("The server accepted only %1 connection(s).").arg(kept));
}

void TransferEngine::ParallelRun::announce(std::size_t slot)
{
    if (announced_[slot])
        return;
    announced_[slot] = true;
    const FetchFile& entry = runOrder_[slot];
    const QString line = oneLine(engine_.transferringLine(job_, entry.file->remoteName, entry.localName));
    host_.setStatusText(line);
    host_.writeLog(line);
}

void TransferEngine::ParallelRun::fileStarted(std::size_t slot, std::int64_t size)
{
    announce(slot);
    const FetchFile& entry = runOrder_[slot];
    if (engine_.fileStarted_)
        engine_.fileStarted_({ *entry.file, entry.localName, size });
}

void TransferEngine::ParallelRun::fileEnded(std::size_t slot, const FetchResult& result)
{
    ++filesDone_;
    const std::string& name = runOrder_[slot].file->remoteName;
    const QString shown = displayName(name);
    switch (result.kind) {
    case FetchResult::Kind::Fetched:
        bytesDone_ += result.received;
        ++engine_.report_.fetched;
        engine_.report_.fetchedNames.push_back(name);
        fetchedSlots_.push_back(slot);
        engine_.fileFinished(name, FileFinished::Outcome::Fetched);
        engine_.report(QStringLiteral("Data transfer complete (")
            + completedByteCount(result.received, engine_.groupSeparator_) + QStringLiteral(" Bytes): ")
            + shown);
        break;
    case FetchResult::Kind::Skipped:
        announce(slot);
        if (result.connectionBroke)
            engine_.report_.connectionBroke = true;
        engine_.reportSkip(mode_, name, result.reason, shown);
        break;
    case FetchResult::Kind::StillBeingWritten:
        announce(slot);
        engine_.passOver(mode_, name, QStringLiteral("The file is still being written."), shown);
        break;
    case FetchResult::Kind::NotChanged:
        engine_.passOverUnchanged(mode_, name);
        break;
    case FetchResult::Kind::Stopped:
        engine_.fileFinished(name, FileFinished::Outcome::Stopped);
        // A download that had begun says that it was stopped; one that had
        // not is left for the next run, as the files no connection took.
        if (announced_[slot])
            engine_.report(QStringLiteral("Transfer stopped: %1 was not fetched.").arg(shown));
        break;
    }
}

// The main connection takes a task and fetches it, between ticks. False when
// it takes none now.
bool TransferEngine::ParallelRun::fetchOnMain()
{
    if (!mainAlive_ || (mainGaveWay_ && others() > 0))
        return false;
    std::optional<FetchTask> task = pool_->take(false);
    if (!task)
        return false;
    mainGaveWay_ = false;
    RemoteSite& site = *engine_.site_;
    for (std::size_t i = 0; i < task->files.size(); ++i) {
        const FetchFile& file = task->files[i];
        mainBytes_ = 0;
        try {
            FetchResult result = fetchOnSite(
                site, job_, file, startUtc_.addMSecs(clock_.elapsed()),
                [this, &file](std::int64_t size) {
                    pool_->tell({ FetchNotice::Kind::Started, 1, file.slot, size, {}, {}, std::nullopt });
                    tick();
                },
                [this] { return engine_.stopRequested(); }, [this] { return others() > 0; });
            mainBytes_ = 0;
            pool_->tell(
                { FetchNotice::Kind::Finished, 1, file.slot, -1, std::move(result), {}, std::nullopt });
        } catch (const ConnectionGone& end) {
            mainBytes_ = 0;
            FetchTask rest;
            rest.files.assign(task->files.begin() + static_cast<std::ptrdiff_t>(i), task->files.end());
            pool_->handBack(std::move(rest),
                { end.lost ? FetchNotice::Kind::Lost : FetchNotice::Kind::Limited, 1, file.slot, -1, {},
                    end.why, std::nullopt });
            if (end.lost)
                mainAlive_ = false;
            else
                mainGaveWay_ = true;
            return true;
        }
        tick();
        if (stopSeen_)
            break;
    }
    pool_->taskDone();
    return true;
}

// Every connection is gone: what is left is skipped, and the run counts as
// one that lost its connection.
void TransferEngine::ParallelRun::skipRemaining()
{
    for (const FetchTask& left : pool_->takeRemaining())
        for (const FetchFile& file : left.files)
            fileEnded(file.slot, FetchResult { FetchResult::Kind::Skipped, lastLoss_, true, -1, 0 });
}

// Stopped: every connection ends its call, and its temporary with it.
void TransferEngine::ParallelRun::endStopped()
{
    pool_->stop();
    while (running_ > 0) {
        pool_->waitForNews(kEventSlice);
        for (FetchNotice& notice : pool_->takeNotices())
            handle(notice);
        host_.processPendingEvents();
    }
}

void TransferEngine::ParallelRun::run(
    const std::vector<const PlannedFile*>& files, int connections, bool& stopped)
{
    startUtc_ = engine_.utcNow();
    clock_.start();
    planTasks(files);
    startWorkers(connections);
    engine_.report_.connections = 1;
    engine_.fetchTick_ = [this](std::int64_t received) {
        mainBytes_ = received;
        tick();
    };
    struct TickEnds {
        std::function<void(std::int64_t)>& tick;
        ~TickEnds() { tick = nullptr; }
    } tickEnds { engine_.fetchTick_ };

    tellProgress();
    while (true) {
        tick();
        if (stopSeen_)
            break;
        if (fetchOnMain())
            continue;
        // Nothing to take now: done, or waiting for the others.
        if (running_ == 0 && pending_ <= 0 && pool_->idle())
            break;
        if (running_ == 0 && pending_ <= 0 && !mainAlive_) {
            skipRemaining();
            continue;
        }
        // Every file has ended while a further connection still tries to log
        // in (a silent server): it is not waited for.
        if (!finishing_ && pending_ > 0 && pool_->idle()) {
            finishing_ = true;
            pool_->stop();
        }
        pool_->waitForNews(kEventSlice);
        host_.processPendingEvents();
    }
    if (stopSeen_)
        endStopped();
    engine_.fetchTick_ = nullptr;
    for (Worker& worker : workers_)
        worker.thread.join();
    for (FetchNotice& notice : pool_->takeNotices())
        handle(notice);
    tellAcceptance();
    tellProgress();
    // The names fetched, in the plan's order, whatever order they arrived in.
    std::sort(fetchedSlots_.begin(), fetchedSlots_.end());
    std::vector<std::string>& names = engine_.report_.fetchedNames;
    names.clear();
    for (const std::size_t slot : fetchedSlots_)
        names.push_back(runOrder_[slot].file->remoteName);
    engine_.report_.connections = accepted_;
    if (stopSeen_) {
        engine_.actOnStop();
        stopped = true;
    }
}

void TransferEngine::fetchAtOnce(Mode mode, const JobSettings& job,
    const std::vector<const PlannedFile*>& files, int connections, bool& stopped)
{
    ParallelRun(*this, mode, job).run(files, connections, stopped);
}

} // namespace taskhaul
