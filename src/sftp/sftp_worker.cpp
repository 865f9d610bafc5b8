#include "sftp/sftp_worker.h"

#include <utility>

namespace taskhaul::sftp {

TWorker::TWorker()
    : thread_([this] { Loop(); })
{
}

TWorker::~TWorker()
{
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TWorker::Post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        task_ = std::move(task);
        error_ = nullptr;
        done_ = false;
    }
    changed_.notify_all();
}

bool TWorker::WaitDone(std::chrono::milliseconds wait)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [this] { return done_; });
}

void TWorker::TakeResult()
{
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        error = std::exchange(error_, nullptr);
    }
    if (error)
        std::rethrow_exception(error);
}

void TWorker::Loop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || task_; });
        if (quit_)
            return;
        auto task = std::move(task_);
        task_ = nullptr;
        lock.unlock();
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        task = nullptr;
        lock.lock();
        error_ = error;
        done_ = true;
        changed_.notify_all();
    }
}

} // namespace taskhaul::sftp
