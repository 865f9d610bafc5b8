#include "ftp/ftp_control.h"

#include "ftp/ftp_data_connection.h"
#include "ftp/ftp_errors.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>

namespace taskhaul::ftp {
namespace {

// Size of one read from the control connection.
constexpr std::size_t kControlReadSize = 32768;

// How long to wait for a reply that nobody asked for any more (the answer to an
// ABOR sent while no transfer ran) before the next command is sent.
constexpr std::chrono::milliseconds kStaleReplyWait { 10000 };

// How long a server that sent no greeting has to answer a ClientHello.
constexpr std::chrono::milliseconds kTlsProbeWait { 3000 };

} // namespace

void TAbortRegistry::ShutdownActive() noexcept
{
    if (active)
        active->Shutdown();
}

void RequireSafeCommand(const std::string& text)
{
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw EFtpException("Invalid character in command.");
}

TControlConnection::TControlConnection(const TFtpLimits& limits, const std::function<void()>& pump,
    TAbortRegistry& abort, std::function<void()> disconnected)
    : limits_(limits)
    , pump_(pump)
    , abort_(abort)
    , disconnected_(std::move(disconnected))
{
}

TControlConnection::~TControlConnection() = default;

// ---- A running Connect ----

void TControlConnection::BeginConnect() noexcept
{
    connecting_ = true;
    cancel_ = ConnectCancel::None;
}

void TControlConnection::EndConnect() noexcept
{
    connecting_ = false;
    cancel_ = ConnectCancel::None;
}

void TControlConnection::CancelConnect(ConnectCancel how) noexcept
{
    if (!connecting_)
        return;
    if (how == ConnectCancel::Disconnect || cancel_ == ConnectCancel::None)
        cancel_ = how;
}

void TControlConnection::ThrowIfCancelled() const
{
    if (cancel_ == ConnectCancel::Abort)
        throw EOperationAborted();
    if (cancel_ == ConnectCancel::Disconnect)
        throw ENotConnected(everConnected_);
}

void TControlConnection::Open(const std::string& host, int port)
{
    tls_.reset();
    tlsContext_.reset();
    socket_ = net::ConnectTcp(
        host, port, limits_.ConnectTimeout, Pumper(), [this] { return cancel_ != ConnectCancel::None; });
    // Every command goes out at once, even with an earlier one unacknowledged.
    net::SetNoDelay(socket_.Get());
    peer_ = net::PeerAddress(socket_.Get());
    everConnected_ = true;
    input_.clear();
    inputPos_ = 0;
    staleReplies_ = 0;
}

void TControlConnection::StartTls(std::shared_ptr<const TTlsContext> context)
{
    RequireConnection();
    // Bytes that came before the handshake were sent in clear text after the
    // server agreed to TLS: nothing of theirs can be trusted.
    if (inputPos_ < input_.size())
        throw ETlsError("TLS handshake failed: the server sent clear text after agreeing to TLS.");
    tlsContext_ = std::move(context);
    tls_ = std::make_unique<TTlsChannel>(*tlsContext_, socket_.Get());
    const unsigned expected = generation_;
    tls_->Handshake(net::DeadlineAfter(limits_.ReplyTimeout), Pumper(),
        [this, expected] { return WaitStopped(expected); });
    tls_->RequireTrusted();
}

// ---- State ----

void TControlConnection::RequireConnection() const
{
    ThrowIfCancelled();
    if (!socket_.Valid())
        throw ENotConnected(everConnected_);
}

bool TControlConnection::WaitStopped(unsigned expected) const noexcept
{
    return generation_ != expected || cancel_ != ConnectCancel::None;
}

void TControlConnection::Disconnect()
{
    if (!socket_.Valid())
        return;
    TakeWaiting();
    if (!socket_.Valid())
        return;
    Close();
    if (disconnected_)
        disconnected_();
}

void TControlConnection::Close() noexcept
{
    if (tls_ && socket_.Valid()) {
        // close_notify, if the socket takes it at once; nothing is waited for.
        tls_->Shutdown(net::SteadyClock::now(), net::Pumper {});
    }
    tls_.reset();
    socket_.Reset();
    input_.clear();
    inputPos_ = 0;
    staleReplies_ = 0;
    ++generation_;
    abort_.ShutdownActive();
}

void TControlConnection::TakeWaiting()
{
    // A TLS session that never came up (or broke) has nothing to read; the
    // socket itself may still be open, and Disconnect then notifies.
    if (tls_ && !tls_->Usable())
        return;
    char buffer[4096];
    while (socket_.Valid()) {
        short waitFor = 0;
        ssize_t n;
        try {
            n = ReadSome(socket_.Get(), tls_.get(), buffer, sizeof buffer, waitFor);
        } catch (const ETlsError&) {
            n = 0; // a broken TLS session: the connection is lost
        }
        if (n > 0) {
            input_.append(buffer, static_cast<std::size_t>(n));
            if (input_.size() - inputPos_ > reply::kMaxReplyBytes + reply::kMaxLineLength)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        Close();
    }
}

// ---- Reading ----

bool TControlConnection::FillInput(net::Deadline deadline)
{
    const unsigned expected = generation_;
    for (;;) {
        RequireConnection();
        char buffer[kControlReadSize];
        short waitFor = POLLIN;
        ssize_t n;
        try {
            n = ReadSome(socket_.Get(), tls_.get(), buffer, sizeof buffer, waitFor);
        } catch (const ETlsError&) {
            Close();
            throw;
        }
        if (n > 0) {
            if (inputPos_ > 0 && inputPos_ == input_.size()) {
                input_.clear();
                inputPos_ = 0;
            }
            input_.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) {
            Close();
            throw EConnectionClosed();
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            Close();
            net::ThrowSocketError(error);
        }
        const auto outcome = net::Wait(
            socket_.Get(), waitFor, deadline, Pumper(), [this, expected] { return WaitStopped(expected); });
        if (outcome == net::WaitOutcome::TimedOut)
            return false;
        if (outcome == net::WaitOutcome::Stopped) {
            ThrowIfCancelled();
            throw ENotConnected(true);
        }
    }
}

std::optional<std::string> TControlConnection::ReadLine(net::Deadline deadline)
{
    for (;;) {
        const auto end = input_.find('\n', inputPos_);
        if (end != std::string::npos) {
            if (end - inputPos_ > reply::kMaxLineLength)
                throw ELineTooLong();
            std::size_t length = end - inputPos_;
            if (length > 0 && input_[end - 1] == '\r')
                --length;
            std::string line = input_.substr(inputPos_, length);
            inputPos_ = end + 1;
            if (inputPos_ == input_.size()) {
                input_.clear();
                inputPos_ = 0;
            } else if (inputPos_ > 65536) {
                input_.erase(0, inputPos_);
                inputPos_ = 0;
            }
            return line;
        }
        if (input_.size() - inputPos_ > reply::kMaxLineLength)
            throw ELineTooLong();
        if (!FillInput(deadline))
            return std::nullopt;
    }
}

std::optional<TFtpReply> TControlConnection::ReadReplyUntil(net::Deadline deadline)
{
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    for (;;) {
        auto line = ReadLine(deadline);
        if (!line)
            return std::nullopt;
        const auto trimmed = reply::Trim(*line);
        if (!trimmed.empty()) {
            lines.emplace_back(trimmed);
            bytes = trimmed.size();
            break;
        }
    }
    while (!reply::IsEndLine(lines.back())) {
        auto line = ReadLine(deadline);
        if (!line)
            return std::nullopt;
        bytes += line->size();
        if (bytes > reply::kMaxReplyBytes || lines.size() >= reply::kMaxReplyLines)
            throw EFtpException("Reply too long.");
        lines.push_back(std::move(*line));
    }
    return reply::Parse(lines);
}

const TFtpReply& TControlConnection::ReadOneReply(std::chrono::milliseconds limit)
{
    RequireConnection();
    auto result = ReadReplyUntil(net::DeadlineAfter(limit));
    if (!result) {
        // A server that stays silent must not hold the client for ever.
        Disconnect();
        throw EReadTimeout();
    }
    lastReply_ = std::move(*result);
    return lastReply_;
}

int TControlConnection::ReadReply(const std::vector<int>& allowed)
{
    const TFtpReply& result = ReadOneReply(limits_.ReplyTimeout);
    reply::Check(result, allowed);
    return result.NumericCode;
}

int TControlConnection::ReadGreeting(const std::string* tlsHost)
{
    RequireConnection();
    auto result = ReadReplyUntil(net::DeadlineAfter(limits_.ReplyTimeout));
    if (!result) {
        const bool awaitsTls = tlsHost != nullptr && AwaitsTls(*tlsHost);
        Disconnect();
        if (awaitsTls)
            throw EReadTimeout("The server seems to expect implicit TLS on this port.");
        throw EReadTimeout();
    }
    lastReply_ = std::move(*result);
    reply::Check(lastReply_, { 220 });
    return lastReply_.NumericCode;
}

bool TControlConnection::AwaitsTls(const std::string& host)
{
    // What arrived of a greeting may be the server's own TLS alert.
    if (inputPos_ < input_.size())
        return LooksLikeTlsRecord(std::string_view(input_).substr(inputPos_));
    // A server that speaks TLS from the first byte says nothing until it has a
    // ClientHello: one is sent (it carries nothing of the user's), and an
    // answer in TLS records tells.
    const std::string hello = TlsClientHello(host);
    if (hello.empty()
        || ::send(socket_.Get(), hello.data(), hello.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
            != static_cast<ssize_t>(hello.size()))
        return false;
    const unsigned expected = generation_;
    const auto limit = std::min<std::chrono::milliseconds>(limits_.ReplyTimeout, kTlsProbeWait);
    if (net::Wait(socket_.Get(), POLLIN, net::DeadlineAfter(limit), Pumper(),
            [this, expected] { return WaitStopped(expected); })
        != net::WaitOutcome::Ready)
        return false;
    char header[3];
    const ssize_t n = ::recv(socket_.Get(), header, sizeof header, MSG_DONTWAIT);
    return n > 0 && LooksLikeTlsRecord(std::string_view(header, static_cast<std::size_t>(n)));
}

void TControlConnection::DiscardStaleReplies()
{
    while (staleReplies_ > 0 && socket_.Valid()) {
        --staleReplies_;
        if (!ReadReplyUntil(net::DeadlineAfter(kStaleReplyWait)))
            break;
    }
    staleReplies_ = 0;
    // Anything else already here (a late second answer) goes the same way.
    TakeWaiting();
    while (socket_.Valid() && input_.find('\n', inputPos_) != std::string::npos) {
        if (!ReadReplyUntil(net::SteadyClock::now() + std::chrono::milliseconds(200)))
            break;
    }
}

// ---- Writing ----

void TControlConnection::WriteLine(const std::string& text)
{
    RequireSafeCommand(text);
    RequireConnection();
    const std::string line = text + "\r\n";
    std::size_t sent = 0;
    const unsigned expected = generation_;
    const auto deadline = net::DeadlineAfter(limits_.ReplyTimeout);
    while (sent < line.size()) {
        short waitFor = POLLOUT;
        ssize_t n;
        try {
            n = WriteSome(socket_.Get(), tls_.get(), line.data() + sent, line.size() - sent, waitFor);
        } catch (const ETlsError&) {
            Close();
            throw;
        }
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            Close();
            if (error == EPIPE)
                throw EConnectionClosed();
            net::ThrowSocketError(error);
        }
        const auto outcome = net::Wait(
            socket_.Get(), waitFor, deadline, Pumper(), [this, expected] { return WaitStopped(expected); });
        if (outcome == net::WaitOutcome::Stopped) {
            ThrowIfCancelled();
            throw ENotConnected(true);
        }
        if (outcome == net::WaitOutcome::TimedOut) {
            Disconnect();
            throw EReadTimeout();
        }
    }
    Pumper()();
}

int TControlConnection::SendCommand(const std::string& text, const std::vector<int>& allowed)
{
    RequireSafeCommand(text);
    RequireConnection();
    DiscardStaleReplies();
    WriteLine(text);
    return ReadReply(allowed);
}

} // namespace taskhaul::ftp
