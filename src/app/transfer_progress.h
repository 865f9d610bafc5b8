#pragma once

#include "ftp/ftp_client.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>

namespace taskhaul {

// The rate of a download over the last few seconds.
class RateMeter {
public:
    static constexpr std::int64_t kWindowMs = 3000;

    void start(std::int64_t nowMs);
    void add(std::int64_t nowMs, std::int64_t received);
    // Bytes per second, 0 until half a second has been measured.
    double bytesPerSecond() const;

private:
    struct Sample {
        std::int64_t ms;
        std::int64_t bytes;
    };
    std::deque<Sample> samples_;
};

// What a download shows while it runs.
struct ProgressState {
    bool active = false;
    std::int64_t received = 0;
    std::int64_t size = -1; // unknown
    double bytesPerSecond = 0;
};

// Follows the FTP client's work notifications during a file download (the
// engine's own handler still runs) and shows the progress, at most every
// kShowEveryMs and once at the start and the end. Listings are not shown.
class TransferProgress {
public:
    static constexpr std::int64_t kShowEveryMs = 200;

    using Show = std::function<void(const ProgressState&)>;
    // `expectedSize` names the size of the file whose download begins, or -1.
    TransferProgress(ftp::TFtpClient& client, std::function<std::int64_t()> expectedSize, Show show);
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    const ProgressState& state() const { return state_; }

private:
    void begin(std::int64_t countMax);
    void work(std::int64_t count);
    void end();

    ftp::TFtpClient& client_;
    std::function<std::int64_t()> expectedSize_;
    Show show_;
    ftp::TFtpClient::WorkHandler previousWork_;
    ProgressState state_;
    RateMeter meter_;
    QElapsedTimer clock_;
    std::int64_t shownAtMs_ = 0;
};

} // namespace taskhaul
