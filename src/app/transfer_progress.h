#pragma once

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
    // A run over several connections shows the whole run: files done of the
    // run's files (below 0: one download's progress is shown), and `received`
    // and `size` are the run's bytes.
    int filesDone = -1;
    int filesTotal = -1;
};

// Follows a file download as the transfer engine announces it (its start with
// the size, the bytes received, its end) and shows the progress, at most every
// kShowEveryMs and once at the start and the end. Only downloads are announced,
// so listings are never shown.
class TransferProgress {
public:
    static constexpr std::int64_t kShowEveryMs = 200;

    using Show = std::function<void(const ProgressState&)>;
    explicit TransferProgress(Show show);

    // A download begins; `size` below 0: unknown.
    void begin(std::int64_t size);
    // The download has received `received` bytes so far.
    void work(std::int64_t received);
    // The download ended, however it ended; nothing when none runs.
    void end();

    // Where a run over several connections stands. From the first call to
    // endRun, the whole run is shown and single downloads are not.
    void run(int filesDone, int filesTotal, std::int64_t received, std::int64_t size);
    // The run ended, however it ended: as end(), and single downloads show again.
    void endRun();

    const ProgressState& state() const { return state_; }

private:
    Show show_;
    ProgressState state_;
    RateMeter meter_;
    QElapsedTimer clock_;
    std::int64_t shownAtMs_ = 0;
    bool wholeRun_ = false;
};

} // namespace taskhaul
