#pragma once

// The files of a run with more than one connection: handed out in the plan's
// order to whichever connection is free, and what each connection tells back.
// The main thread's connection and the worker threads' connections share it;
// only the main thread writes the log and tells the host.

#include "transfer/file_plan.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
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

// One file for a connection to fetch.
struct FetchTask {
    std::size_t slot = 0; // the file's place in the run's order
    const PlannedFile* file = nullptr;
    std::string localName;
    std::string localPath;
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
struct FetchNotice {
    enum class Kind {
        Connected, // a further connection is logged in and in the folder
        NotAccepted, // a further connection could not be made (`text`: why)
        Started, // a download begins (`slot`, `size`)
        Finished, // a file's end (`slot`, `result`)
        Lost, // a connection broke (`text`: why); its file went back to the queue
        Ended, // a worker's connection is closed and its thread is done
    };
    Kind kind = Kind::Ended;
    std::size_t slot = 0;
    std::int64_t size = -1;
    FetchResult result;
    QString text;
};

class FetchPool {
public:
    explicit FetchPool(std::deque<FetchTask> tasks)
        : queue_(std::move(tasks))
    {
    }

    // The next file for a connection, or nothing when none is left. With
    // `wait`, waits while another connection still has a file that it may
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
    // A connection is done with a file it took.
    void done(const FetchResult& result, std::size_t slot)
    {
        {
            std::lock_guard lock(mutex_);
            --inFlight_;
            FetchNotice notice;
            notice.kind = FetchNotice::Kind::Finished;
            notice.slot = slot;
            notice.result = result;
            notices_.push_back(std::move(notice));
        }
        changed_.notify_all();
    }
    // A connection broke during a file: the file goes first in the queue, for
    // another connection to fetch.
    void handBack(FetchTask task, const QString& why)
    {
        {
            std::lock_guard lock(mutex_);
            --inFlight_;
            queue_.push_front(std::move(task));
            notices_.push_back({ FetchNotice::Kind::Lost, 0, -1, {}, why });
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
        std::vector<FetchNotice> taken(
            std::make_move_iterator(notices_.begin()), std::make_move_iterator(notices_.end()));
        notices_.clear();
        return taken;
    }
    // Waits at most `wait` for news (the main thread's slices).
    void waitForNews(std::chrono::milliseconds wait)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return !notices_.empty(); });
    }
    // The files no connection took, once no connection is left to take them.
    std::deque<FetchTask> takeRemaining()
    {
        std::lock_guard lock(mutex_);
        return std::exchange(queue_, {});
    }
    // No file is left and none is being fetched.
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

} // namespace taskhaul
