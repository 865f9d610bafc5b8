#include "ftp/ftp_socket.h"

#include "ftp/ftp_errors.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

namespace taskhaul::ftp::net {
namespace {

int PollMilliseconds(Deadline deadline, std::chrono::milliseconds interval)
{
    if (deadline == kNoDeadline)
        return static_cast<int>(interval.count());
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, interval.count()));
}

bool ParseNumeric(const std::string& host, int port, Address& out)
{
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        out.length = sizeof(sockaddr_in);
        out.SetPort(port);
        return true;
    }
    out.storage = {};
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        out.length = sizeof(sockaddr_in6);
        out.SetPort(port);
        return true;
    }
    out.storage = {};
    return false;
}

// Shared between the caller and the resolver thread; the thread may outlive a
// caller that gave up waiting.
struct Resolution {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0; // getaddrinfo's code, 0 on success
    int systemError = 0; // errno for EAI_SYSTEM
    std::vector<Address> addresses;
};

void Resolve(const std::shared_ptr<Resolution>& state, const std::string& host, int port)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int error = getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    const int systemError = errno;
    std::vector<Address> addresses;
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6)
            continue;
        Address address;
        std::memcpy(&address.storage, ai->ai_addr, ai->ai_addrlen);
        address.length = ai->ai_addrlen;
        addresses.push_back(address);
    }
    if (list != nullptr)
        freeaddrinfo(list);
    std::stable_partition(
        addresses.begin(), addresses.end(), [](const Address& a) { return a.Family() == AF_INET; });
    {
        std::lock_guard lock(state->mutex);
        state->error = error;
        state->systemError = systemError;
        state->addresses = std::move(addresses);
        state->finished = true;
    }
    state->done.notify_all();
}

std::vector<Address> ResolvePumped(const std::string& host, int port, Deadline deadline, const Pumper& pumper,
    const std::function<bool()>& stopped)
{
    auto state = std::make_shared<Resolution>();
    std::thread(Resolve, state, host, port).detach();
    for (;;) {
        {
            std::unique_lock lock(state->mutex);
            const auto wait = std::chrono::milliseconds(PollMilliseconds(deadline, pumper.interval));
            state->done.wait_for(lock, wait, [&] { return state->finished; });
            if (state->finished)
                break;
        }
        pumper();
        if (stopped && stopped())
            throw EConnectionClosed();
        if (SteadyClock::now() >= deadline)
            throw EConnectTimeout();
    }
    if (state->error == EAI_SYSTEM)
        ThrowSocketError(state->systemError);
    if (state->error != 0)
        throw ESocketError(state->error, gai_strerror(state->error));
    if (state->addresses.empty())
        throw ESocketError(EAI_NONAME, gai_strerror(EAI_NONAME));
    return std::move(state->addresses);
}

} // namespace

void Fd::Reset(int fd) noexcept
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

WaitOutcome Wait(
    int fd, short events, Deadline deadline, const Pumper& pumper, const std::function<bool()>& stopped)
{
    for (;;) {
        if (SteadyClock::now() >= deadline)
            return WaitOutcome::TimedOut;
        pollfd entry { fd, events, 0 };
        const int result = ::poll(&entry, 1, PollMilliseconds(deadline, pumper.interval));
        pumper();
        if (stopped && stopped())
            return WaitOutcome::Stopped;
        if (result > 0 || (result < 0 && errno != EINTR))
            return WaitOutcome::Ready;
    }
}

std::string Address::HostText() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text, sizeof text);
    else if (Family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text, sizeof text);
    return text;
}

int Address::Port() const noexcept
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return 0;
}

void Address::SetPort(int port) noexcept
{
    const auto value = htons(static_cast<std::uint16_t>(port));
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&storage)->sin_port = value;
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port = value;
}

Address LocalAddress(int fd)
{
    Address address;
    address.length = sizeof address.storage;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0)
        ThrowSocketError(errno);
    return address;
}

Address PeerAddress(int fd)
{
    Address address;
    address.length = sizeof address.storage;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0)
        ThrowSocketError(errno);
    return address;
}

void SetNoDelay(int fd)
{
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void ThrowSocketError(int errorNumber)
{
    throw ESocketError(errorNumber);
}

Fd ConnectTcp(
    const Address& address, Deadline deadline, const Pumper& pumper, const std::function<bool()>& stopped)
{
    Fd socket(::socket(address.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        ThrowSocketError(errno);
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0)
        return socket;
    if (errno != EINPROGRESS)
        ThrowSocketError(errno);
    switch (Wait(socket.Get(), POLLOUT, deadline, pumper, stopped)) {
    case WaitOutcome::TimedOut:
        throw EConnectTimeout();
    case WaitOutcome::Stopped:
        throw EConnectionClosed();
    case WaitOutcome::Ready:
        break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        ThrowSocketError(errno);
    if (error != 0)
        ThrowSocketError(error);
    return socket;
}

Fd ConnectTcp(const std::string& host, int port, std::chrono::milliseconds timeout, const Pumper& pumper,
    const std::function<bool()>& stopped)
{
    const Deadline deadline = DeadlineAfter(timeout);
    if (port < 0 || port > 65535)
        throw EConnectError("Invalid port " + std::to_string(port) + ".");
    Address numeric;
    if (ParseNumeric(host, port, numeric))
        return ConnectTcp(numeric, deadline, pumper, stopped);
    if (host.empty())
        throw ESocketError(EAI_NONAME, gai_strerror(EAI_NONAME));
    const auto addresses = ResolvePumped(host, port, deadline, pumper, stopped);
    for (std::size_t i = 0;; ++i) {
        try {
            return ConnectTcp(addresses[i], deadline, pumper, stopped);
        } catch (const ESocketError&) {
            if (i + 1 == addresses.size())
                throw;
        }
    }
}

} // namespace taskhaul::ftp::net
