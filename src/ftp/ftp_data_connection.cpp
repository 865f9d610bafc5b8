#include "ftp/ftp_data_connection.h"

#include "ftp/ftp_errors.h"

#include <algorithm>
#include <cerrno>
#include <optional>

#include <poll.h>
#include <sys/socket.h>

namespace taskhaul::ftp {
namespace {

// Size of one read from a data connection and of one write into the
// destination. Large reads and writes are what makes a download fast; the
// progress notification fires once per chunk.
constexpr std::size_t kDataChunkSize = 256 * 1024;

} // namespace

TDataConnection::TDataConnection(TAbortRegistry& registry) noexcept
    : registry_(registry)
{
    registry_.active = this;
}

TDataConnection::~TDataConnection()
{
    if (registry_.active == this)
        registry_.active = nullptr;
}

void TDataConnection::Shutdown() noexcept
{
    if (socket_.Valid())
        ::shutdown(socket_.Get(), SHUT_RDWR);
}

void TDataConnection::Connect(const net::Address& address, net::Deadline deadline, const net::Pumper& pumper,
    const std::function<bool()>& stopped)
{
    socket_ = net::ConnectTcp(address, deadline, pumper, stopped);
}

net::Address TDataConnection::Listen(net::Address local)
{
    local.SetPort(0);
    listener_.Reset(::socket(local.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!listener_.Valid())
        net::ThrowSocketError(errno);
    if (::bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0
        || ::listen(listener_.Get(), 15) != 0)
        net::ThrowSocketError(errno);
    return net::LocalAddress(listener_.Get());
}

void TDataConnection::Accept(const std::string& serverHost, net::Deadline deadline, const net::Pumper& pumper,
    const std::function<bool()>& stopped)
{
    net::Fd data;
    while (!data.Valid()) {
        const auto outcome = net::Wait(listener_.Get(), POLLIN, deadline, pumper, stopped);
        if (outcome == net::WaitOutcome::TimedOut)
            throw EConnectTimeout();
        if (outcome == net::WaitOutcome::Stopped)
            throw EConnectionClosed();
        data.Reset(::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!data.Valid()) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                continue;
            net::ThrowSocketError(errno);
        }
        if (net::PeerAddress(data.Get()).HostText() != serverHost)
            data.Reset();
    }
    listener_.Reset();
    socket_ = std::move(data);
}

void TDataConnection::BeginTls(const TTlsContext& context, const TTlsChannel& control)
{
    tls_ = std::make_unique<TTlsChannel>(context, socket_.Get(), &control);
    controlFingerprint_ = control.Certificate().Fingerprint;
    tls_->StartHandshake();
}

std::int64_t TDataConnection::ReadAll(TFtpOutputStream& stream, const ReadOptions& options)
{
    if (options.onWorkBegin && *options.onWorkBegin)
        (*options.onWorkBegin)(TWorkMode::wmRead, options.workMax);
    std::int64_t total = 0;
    try {
        std::vector<char>& storage = *options.buffer;
        storage.resize(kDataChunkSize);
        char* const buffer = storage.data();
        std::size_t filled = 0;
        const int fd = socket_.Get();
        std::optional<TSigpipeScope> quiet;
        if (tls_)
            quiet.emplace();
        if (tls_) {
            tls_->Handshake(net::DeadlineAfter(options.idleLimit), options.pumper, options.stopped);
            // Whoever answers on the data port must be the server of the
            // control connection.
            if (tls_->Certificate().Fingerprint != controlFingerprint_) {
                const std::string reason = "The server's certificate has changed.";
                throw ECertificateError(
                    reason + " New SHA-256 fingerprint: " + tls_->Certificate().Fingerprint,
                    tls_->Certificate().Fingerprint, reason);
            }
        }
        auto idleDeadline = net::DeadlineAfter(options.idleLimit);
        auto nextPump = net::SteadyClock::now() + options.pumper.interval;
        const auto flush = [&] {
            if (filled == 0)
                return;
            stream.Write(buffer, filled);
            total += static_cast<std::int64_t>(filled);
            filled = 0;
            if (options.onWork && *options.onWork)
                (*options.onWork)(TWorkMode::wmRead, total);
        };
        for (;;) {
            if (options.stopped())
                break;
            short waitFor = POLLIN;
            const ssize_t n = ReadSome(fd, tls_.get(), buffer + filled, kDataChunkSize - filled, waitFor);
            if (n > 0) {
                filled += static_cast<std::size_t>(n);
                const auto now = net::SteadyClock::now();
                idleDeadline = now + options.idleLimit;
                if (filled == kDataChunkSize)
                    flush();
                if (now >= nextPump) {
                    // Data that keeps arriving must not starve the user interface.
                    options.pumper();
                    nextPump = net::SteadyClock::now() + options.pumper.interval;
                }
                continue;
            }
            if (n == 0)
                break;
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                if (options.aborted())
                    break;
                net::ThrowSocketError(errno);
            }
            flush();
            const auto outcome = net::Wait(fd, waitFor, idleDeadline, options.pumper, options.stopped);
            nextPump = net::SteadyClock::now() + options.pumper.interval;
            if (outcome == net::WaitOutcome::TimedOut)
                throw EReadTimeout();
            if (outcome == net::WaitOutcome::Stopped)
                break;
        }
        flush();
        if (tls_ && !options.stopped()) {
            // Our close_notify answers the server's, so that it reports the
            // transfer as complete.
            const auto limit
                = std::min<std::chrono::milliseconds>(options.idleLimit, std::chrono::seconds(5));
            tls_->Shutdown(net::DeadlineAfter(limit), options.pumper);
        }
    } catch (...) {
        // The end of the work is announced also when the read fails (the
        // handler may throw, so no scope guard here).
        if (options.onWorkEnd && *options.onWorkEnd)
            (*options.onWorkEnd)(TWorkMode::wmRead);
        throw;
    }
    if (options.onWorkEnd && *options.onWorkEnd)
        (*options.onWorkEnd)(TWorkMode::wmRead);
    return total;
}

} // namespace taskhaul::ftp
