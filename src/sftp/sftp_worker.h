#pragma once

// The thread an SFTP connection's blocking library calls run on. One task at
// a time; the owner posts it and waits in slices of its choosing.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace taskhaul::sftp {

class TWorker {
public:
    TWorker();
    // Waits for the task in progress, if any, and ends the thread.
    ~TWorker();
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;

    // Runs `task` on the thread; the previous task must have been taken.
    void Post(std::function<void()> task);
    // Waits at most `wait` for the task; true once it has finished.
    bool WaitDone(std::chrono::milliseconds wait);
    // After WaitDone returned true: raises what the task raised, if anything.
    void TakeResult();
    // Leaves the task in progress to finish on its own: the thread ends after
    // it without anyone waiting, and the worker is of no further use. The
    // task must own everything it touches.
    void Abandon() noexcept;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::function<void()> task;
        std::exception_ptr error;
        bool done = true;
        bool quit = false;
    };
    static void Loop(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace taskhaul::sftp
