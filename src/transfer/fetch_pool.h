#pragma once

// The files of a run with more than one connection: handed out in the plan's
// order to whichever connection is free, and what each connection tells back.
// The main thread's connection and the worker threads' connections share it;
// only the main thread writes the log and tells the host.

#include "transfer/file_plan.h"
#include "transfer/remote_site.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taskhaul {

// A local copy the listing alone shows to be unchanged.
bool settledByListing(const PlannedFile& file);
// Why a new file cannot be put at `path` whatever the server sends; empty when
// nothing stands in the way.
QString localTargetProblem(const std::string& path);
std::int64_t localFileSize(const std::string& path);

// One file of the run, with the local name it gets.
struct FetchFile {
    std::size_t slot = 0; // the file's place in the run's order
    const PlannedFile* file = nullptr;
    std::string localName;
    std::string localPath;
};

// What one connection takes at a time: one file, or the files that the plan
// stores under one local name, in the plan's order. Those are fetched one
// after another on the one connection, so that the copy left is the plan's
// last, as with a single connection.
struct FetchTask {
    std::vector<FetchFile> files;
};

// How fetching one file ended on a connection.
struct FetchResult {
    enum class Kind { Fetched, Skipped, StillBeingWritten, NotChanged, Stopped };
    Kind kind = Kind::Skipped;
    QString reason; // Skipped: why
    bool connectionBroke = false; // Skipped: the last connection was lost
    std::int64_t announcedSize = -1; // the size the download was checked against; below 0: none
    std::int64_t received = 0;
};

// What the connections tell the main thread, in the order it happened.
// Connections are numbered from 1, the main thread's.
struct FetchNotice {
    enum class Kind {
        Connected, // a further connection is logged in and in the folder
        NotAccepted, // a further connection could not be made (`text`: why; `identity`: refused)
        Started, // a download begins (`slot`, `size`)
        Finished, // a file's end (`slot`, `result`)
        Lost, // the connection broke (`text`: why); its file went back to the queue
        Limited, // the server opens no more for it (`text`: why); its file went back, it is closed
        Ended, // a worker's connection is closed and its thread is done
    };
    Kind kind = Kind::Ended;
    int connection = 1;
    std::size_t slot = 0;
    std::int64_t size = -1;
    FetchResult result;
    QString text;
    // NotAccepted: the server's identity that the connection refused.
    std::optional<SiteIdentity> identity;
};

class FetchPool {
public:
    explicit FetchPool(std::deque<FetchTask> tasks)
        : queue_(std::move(tasks))
    {
    }

    // The next task for a connection, or nothing when none is left. With
    // `wait`, waits while another connection still has a task that it may
    // hand back (worker threads only: the main thread must not block).
    std::optional<FetchTask> take(bool wait)
    {
        std::unique_lock lock(mutex_);
        if (wait)
            changed_.wait(lock, [this] { return stop_ || !queue_.empty() || inFlight_ == 0; });
        if (stop_ || queue_.empty())
            return std::nullopt;
        FetchTask task = std::move(queue_.front());
        queue_.pop_front();
        ++inFlight_;
        return task;
    }
    // A connection is done with a task it took.
    void taskDone()
    {
        {
            std::lock_guard lock(mutex_);
            --inFlight_;
        }
        changed_.notify_all();
    }
    // The connection can fetch no more: the files of its task that have not
    // ended go first in the queue, for another connection to fetch, and
    // `notice` tells why.
    void handBack(FetchTask rest, FetchNotice notice)
    {
        {
            std::lock_guard lock(mutex_);
            --inFlight_;
            if (!rest.files.empty())
                queue_.push_front(std::move(rest));
            notices_.push_back(std::move(notice));
        }
        changed_.notify_all();
    }
    void tell(FetchNotice notice)
    {
        {
            std::lock_guard lock(mutex_);
            notices_.push_back(std::move(notice));
        }
        changed_.notify_all();
    }
    // What was told since the last call.
    std::vector<FetchNotice> takeNotices()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(notices_, {});
    }
    // Waits at most `wait` for news (the main thread's slices).
    void waitForNews(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return !notices_.empty(); });
    }
    // The tasks no connection took, once no connection is left to take them.
    std::deque<FetchTask> takeRemaining()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(queue_, {});
    }
    // No task is left and none is being fetched.
    bool idle() const
    {
        std::lock_guard lock(mutex_);
        return queue_.empty() && inFlight_ == 0;
    }
    bool queueEmpty() const
    {
        std::lock_guard lock(mutex_);
        return queue_.empty();
    }
    // Stop, a signal, the end of the session: no connection takes another
    // file, and every worker's pump stops its connection's call.
    void stop()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopping_ = true;
        changed_.notify_all();
    }
    bool stopping() const { return stopping_; }

    // Bytes received by the downloads running now on the workers, for the progress.
    std::atomic<std::int64_t> workerBytes { 0 };

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FetchTask> queue_;
    std::vector<FetchNotice> notices_;
    int inFlight_ = 0;
    bool stop_ = false;
    std::atomic<bool> stopping_ { false };
};

// The connection a file was fetched on can fetch no more: it broke (`lost`),
// or the server opens no more data connections for it (a limit on the
// connections at once). The file goes back for another connection.
struct ConnectionGone {
    bool lost = true;
    QString why;
};

// The steps of one file on one connection, as the one-connection run takes
// them: size, time, the decision with the local folder as it is now, the
// download. Tells nobody but `started` (with the size the download is checked
// against). Raises ConnectionGone; a server's limit only when `mayGiveWay`
// says another connection can take the file.
FetchResult fetchOnSite(RemoteSite& site, const JobSettings& job, const FetchFile& task,
    const QDateTime& nowUtc, const std::function<void(std::int64_t)>& started,
    const std::function<bool()>& stopping, const std::function<bool()>& mayGiveWay);

// A further connection (number `connection`): its own site, on its own
// thread, fetching until no file is left or the run stops. It never touches
// the host.
void workOnConnection(int connection, std::shared_ptr<FetchPool> pool, std::unique_ptr<RemoteSite> site,
    std::shared_ptr<std::atomic<bool>> aborted, JobSettings job, QDateTime startUtc, QElapsedTimer clock);

} // namespace taskhaul
