#include "sftp/sftp_worker.h"

#include <utility>

namespace taskhaul::sftp {

TWorker::TWorker()
    : state_(std::make_shared<State>())
    , thread_([state = state_] { Loop(state); })
{
}

TWorker::~TWorker()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
    }
    state_->changed.notify_all();
    thread_.join();
}

void TWorker::Post(std::function<void()> task)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->task = std::move(task);
        state_->error = nullptr;
        state_->done = false;
    }
    state_->changed.notify_all();
}

bool TWorker::WaitDone(std::chrono::milliseconds wait)
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, wait, [this] { return state_->done; });
}

void TWorker::TakeResult()
{
    std::exception_ptr error;
    {
        std::lock_guard lock(state_->mutex);
        error = std::exchange(state_->error, nullptr);
    }
    if (error)
        std::rethrow_exception(error);
}

void TWorker::Abandon() noexcept
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
    }
    state_->changed.notify_all();
    thread_.detach();
}

void TWorker::Loop(const std::shared_ptr<State>& state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&state] { return state->quit || state->task; });
        if (state->quit)
            return;
        auto task = std::move(state->task);
        state->task = nullptr;
        lock.unlock();
        std::exception_ptr error;
        try {
            task();
        } catch (...) {
            error = std::current_exception();
        }
        // What the task holds goes with it, before anyone hears it is done.
        task = nullptr;
        lock.lock();
        state->error = error;
        state->done = true;
        state->changed.notify_all();
    }
}

} // namespace taskhaul::sftp
