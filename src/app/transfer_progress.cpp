#include "app/transfer_progress.h"

#include <utility>

namespace taskhaul {

void RateMeter::start(std::int64_t nowMs)
{
    samples_.clear();
    samples_.push_back({ nowMs, 0 });
}

void RateMeter::add(std::int64_t nowMs, std::int64_t received)
{
    samples_.push_back({ nowMs, received });
    while (samples_.size() > 2 && samples_[1].ms <= nowMs - kWindowMs)
        samples_.pop_front();
}

double RateMeter::bytesPerSecond() const
{
    if (samples_.size() < 2)
        return 0;
    const Sample& first = samples_.front();
    const Sample& last = samples_.back();
    const std::int64_t ms = last.ms - first.ms;
    if (ms < 500)
        return 0;
    return double(last.bytes - first.bytes) * 1000.0 / double(ms);
}

TransferProgress::TransferProgress(Show show)
    : show_(std::move(show))
{
    clock_.start();
}

void TransferProgress::begin(std::int64_t size)
{
    if (wholeRun_)
        return;
    state_ = ProgressState {};
    state_.active = true;
    state_.size = size >= 0 ? size : -1;
    shownAtMs_ = clock_.elapsed();
    meter_.start(shownAtMs_);
    show_(state_);
}

void TransferProgress::work(std::int64_t received)
{
    if (!state_.active || wholeRun_)
        return;
    state_.received = received;
    const std::int64_t now = clock_.elapsed();
    meter_.add(now, received);
    if (now - shownAtMs_ < kShowEveryMs)
        return;
    shownAtMs_ = now;
    state_.bytesPerSecond = meter_.bytesPerSecond();
    show_(state_);
}

void TransferProgress::end()
{
    if (!state_.active || wholeRun_)
        return;
    state_ = ProgressState {};
    show_(state_);
}

void TransferProgress::run(int filesDone, int filesTotal, std::int64_t received, std::int64_t size)
{
    const std::int64_t now = clock_.elapsed();
    if (!wholeRun_) {
        wholeRun_ = true;
        state_ = ProgressState {};
        state_.active = true;
        meter_.start(now);
        shownAtMs_ = now;
    }
    const bool fileEnded = filesDone != state_.filesDone;
    state_.filesDone = filesDone;
    state_.filesTotal = filesTotal;
    state_.size = size >= 0 ? size : -1;
    state_.received = received;
    meter_.add(now, received);
    // A file's end shows at once; the bytes at most every kShowEveryMs.
    if (!fileEnded && now - shownAtMs_ < kShowEveryMs)
        return;
    shownAtMs_ = now;
    state_.bytesPerSecond = meter_.bytesPerSecond();
    show_(state_);
}

void TransferProgress::endRun()
{
    const bool shown = state_.active;
    wholeRun_ = false;
    state_ = ProgressState {};
    if (shown)
        show_(state_);
}

} // namespace taskhaul
