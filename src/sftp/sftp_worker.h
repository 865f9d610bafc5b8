#pragma once

// The thread an SFTP connection's blocking library calls run on. One task at
// a time; the owner posts it and waits in slices of its choosing.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace taskhaul::sftp {

class TWorker {
public:
    TWorker();
    ~TWorker();
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;

    // Runs `task` on the thread; the previous task must have been taken.
    void Post(std::function<void()> task);
    // Waits at most `wait` for the task; true once it has finished.
    bool WaitDone(std::chrono::milliseconds wait);
    // After WaitDone returned true: raises what the task raised, if anything.
    void TakeResult();

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> task_;
    std::exception_ptr error_;
    bool done_ = true;
    bool quit_ = false;
    std::thread thread_;
};

} // namespace taskhaul::sftp
