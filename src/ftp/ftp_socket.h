#pragma once

// POSIX socket helpers of the FTP client: an owning descriptor, pumped waits and
// the TCP connect (host names resolved on a short-lived worker thread).

#include <chrono>
#include <functional>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

namespace taskhaul::ftp::net {

using SteadyClock = std::chrono::steady_clock;
using Deadline = SteadyClock::time_point;

inline constexpr Deadline kNoDeadline = Deadline::max();

inline Deadline DeadlineAfter(std::chrono::milliseconds limit)
{
    return SteadyClock::now() + limit;
}

// Owns one descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept
        : fd_(fd)
    {
    }
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept
        : fd_(other.Release())
    {
    }
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const noexcept { return fd_; }
    bool Valid() const noexcept { return fd_ >= 0; }
    int Release() noexcept
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

// How blocking calls stay responsive: no single wait is longer than `interval`,
// and `pump` runs after each one.
struct Pumper {
    std::function<void()> pump;
    std::chrono::milliseconds interval { 50 };

    void operator()() const
    {
        if (pump)
            pump();
    }
};

enum class WaitOutcome { Ready, TimedOut, Stopped };

// Waits until the descriptor reports one of `events` (POLLIN, POLLOUT), the
// deadline passes, or `stopped` (checked after every pump) returns true. Errors
// and hang-ups count as ready: the next read or write reports them.
WaitOutcome Wait(
    int fd, short events, Deadline deadline, const Pumper& pumper, const std::function<bool()>& stopped = {});

// A socket address of either family.
struct Address {
    sockaddr_storage storage {};
    socklen_t length = 0;

    int Family() const noexcept { return storage.ss_family; }
    // Numeric text of the host part.
    std::string HostText() const;
    int Port() const noexcept;
    void SetPort(int port) noexcept;
};

Address LocalAddress(int fd);
Address PeerAddress(int fd);

// Connects to host:port. A numeric address is used directly; a name is resolved
// on a worker thread while the caller pumps, and every address is tried in turn
// (IPv4 first) until one connects. Raises EConnectTimeout, ESocketError or
// EConnectError; `stopped` ends the attempt with EConnectionClosed.
Fd ConnectTcp(const std::string& host, int port, std::chrono::milliseconds timeout, const Pumper& pumper,
    const std::function<bool()>& stopped = {});
Fd ConnectTcp(const Address& address, Deadline deadline, const Pumper& pumper,
    const std::function<bool()>& stopped = {});

// Sends small writes at once instead of waiting for earlier ones to be acknowledged.
void SetNoDelay(int fd);

// Throws ESocketError for the given errno value.
[[noreturn]] void ThrowSocketError(int errorNumber);

} // namespace taskhaul::ftp::net
