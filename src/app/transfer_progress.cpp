#include "app/transfer_progress.h"

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

TransferProgress::TransferProgress(
    ftp::TFtpClient& client, std::function<std::int64_t()> expectedSize, Show show)
    : client_(client)
    , expectedSize_(std::move(expectedSize))
    , show_(std::move(show))
    , previousWork_(client.OnWork)
{
    clock_.start();
    client_.OnWorkBegin = [this](ftp::TWorkMode, std::int64_t countMax) { begin(countMax); };
    client_.OnWork = [this](ftp::TWorkMode mode, std::int64_t count) {
        work(count);
        if (previousWork_)
            previousWork_(mode, count);
    };
    client_.OnWorkEnd = [this](ftp::TWorkMode) { end(); };
}

TransferProgress::~TransferProgress()
{
    client_.OnWorkBegin = nullptr;
    client_.OnWork = previousWork_;
    client_.OnWorkEnd = nullptr;
}

void TransferProgress::begin(std::int64_t countMax)
{
    // Listings travel as text; files in binary.
    if (client_.TransferType() != ftp::TFtpTransferType::ftBinary)
        return;
    state_ = ProgressState {};
    state_.active = true;
    state_.size = countMax > 0 ? countMax : (expectedSize_ ? expectedSize_() : -1);
    shownAtMs_ = clock_.elapsed();
    meter_.start(shownAtMs_);
    show_(state_);
}

void TransferProgress::work(std::int64_t count)
{
    if (!state_.active)
        return;
    state_.received = count;
    const std::int64_t now = clock_.elapsed();
    meter_.add(now, count);
    if (now - shownAtMs_ < kShowEveryMs)
        return;
    shownAtMs_ = now;
    state_.bytesPerSecond = meter_.bytesPerSecond();
    show_(state_);
}

void TransferProgress::end()
{
    if (!state_.active)
        return;
    state_ = ProgressState {};
    show_(state_);
}

} // namespace taskhaul
