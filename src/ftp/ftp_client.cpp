#include "ftp/ftp_client_impl.h"

#include "base/text.h"
#include "ftp/ftp_login.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::ftp {
namespace detail {

void RequireSafeCommand(const std::string& text)
{
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw EFtpException("Invalid character in command.");
}

} // namespace detail

namespace {

using base::AsciiUpper;
using detail::RequireSafeCommand;

// Size of one read from the control connection.
constexpr std::size_t kControlReadSize = 32768;

// How long to wait for a reply that nobody asked for any more (the answer to an
// ABOR sent while no transfer ran) before the next command is sent.
constexpr std::chrono::milliseconds kStaleReplyWait { 10000 };

std::string_view FirstWord(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

bool ServerWantsZoneQuery(const TFtpReply& greeting, const std::vector<std::string>& capabilities)
{
    const std::string first = greeting.ReplyText.empty() ? std::string() : greeting.ReplyText.front();
    for (std::string_view prefix : { "Serv-U ", "BPFTP Server ", "TitanFTP server " })
        if (first.starts_with(prefix))
            return true;
    for (const auto& entry : capabilities) {
        const std::string_view text = reply::TrimLeft(entry);
        const auto word = FirstWord(text);
        if (AsciiUpper(word) != "SITE")
            continue;
        std::string_view rest = text.substr(word.size());
        for (std::size_t pos = 0; pos <= rest.size();) {
            const auto semicolon = rest.find(';', pos);
            const auto item = reply::Trim(
                rest.substr(pos, semicolon == std::string_view::npos ? rest.npos : semicolon - pos));
            if (AsciiUpper(item) == "ZONE")
                return true;
            if (semicolon == std::string_view::npos)
                break;
            pos = semicolon + 1;
        }
    }
    return false;
}

} // namespace

// ---- Control connection, inside ----

void TFtpClient::Impl::CheckConnectCancel() const
{
    if (connectCancel == ConnectCancel::Abort)
        throw EOperationAborted();
    if (connectCancel == ConnectCancel::Disconnect)
        throw ENotConnected(everConnected);
}

void TFtpClient::Impl::RequireConnection() const
{
    CheckConnectCancel();
    if (!control.Valid())
        throw ENotConnected(everConnected);
}

bool TFtpClient::Impl::ControlWaitStopped(unsigned expected) const
{
    return generation != expected || connectCancel != ConnectCancel::None;
}

void TFtpClient::Impl::Disconnect()
{
    if (!control.Valid())
        return;
    TakeWaiting();
    if (!control.Valid())
        return;
    CloseControl();
    if (self.OnDisconnected)
        self.OnDisconnected(self);
}

void TFtpClient::Impl::CloseControl()
{
    control.Reset();
    input.clear();
    inputPos = 0;
    staleReplies = 0;
    ++generation;
    if (dataFd >= 0)
        ::shutdown(dataFd, SHUT_RDWR);
}

void TFtpClient::Impl::TakeWaiting()
{
    char buffer[4096];
    while (control.Valid()) {
        const ssize_t n = ::recv(control.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            input.append(buffer, static_cast<std::size_t>(n));
            if (input.size() - inputPos > reply::kMaxReplyBytes + reply::kMaxLineLength)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        CloseControl();
    }
}

bool TFtpClient::Impl::FillInput(net::Deadline deadline)
{
    const unsigned expected = generation;
    for (;;) {
        RequireConnection();
        char buffer[kControlReadSize];
        const ssize_t n = ::recv(control.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            if (inputPos > 0 && inputPos == input.size()) {
                input.clear();
                inputPos = 0;
            }
            input.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) {
            CloseControl();
            throw EConnectionClosed();
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            CloseControl();
            net::ThrowSocketError(error);
        }
        const auto outcome = net::Wait(control.Get(), POLLIN, deadline, Pumper(),
            [this, expected] { return ControlWaitStopped(expected); });
        if (outcome == net::WaitOutcome::TimedOut)
            return false;
        if (outcome == net::WaitOutcome::Stopped) {
            CheckConnectCancel();
            throw ENotConnected(true);
        }
    }
}

std::optional<std::string> TFtpClient::Impl::ReadLine(net::Deadline deadline)
{
    for (;;) {
        const auto end = input.find('\n', inputPos);
        if (end != std::string::npos) {
            if (end - inputPos > reply::kMaxLineLength)
                throw ELineTooLong();
            std::size_t length = end - inputPos;
            if (length > 0 && input[end - 1] == '\r')
                --length;
            std::string line = input.substr(inputPos, length);
            inputPos = end + 1;
            if (inputPos == input.size()) {
                input.clear();
                inputPos = 0;
            } else if (inputPos > 65536) {
                input.erase(0, inputPos);
                inputPos = 0;
            }
            return line;
        }
        if (input.size() - inputPos > reply::kMaxLineLength)
            throw ELineTooLong();
        if (!FillInput(deadline))
            return std::nullopt;
    }
}

std::optional<TFtpReply> TFtpClient::Impl::ReadReplyUntil(net::Deadline deadline)
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

TFtpReply TFtpClient::Impl::ReadOneReply(std::chrono::milliseconds limit)
{
    RequireConnection();
    auto result = ReadReplyUntil(net::DeadlineAfter(limit));
    if (!result) {
        // A server that stays silent must not hold the client for ever.
        Disconnect();
        throw EReadTimeout();
    }
    lastReply = std::move(*result);
    return lastReply;
}

int TFtpClient::Impl::ReadReply(const std::vector<int>& allowed)
{
    const auto result = ReadOneReply(limits.ReplyTimeout);
    reply::Check(result, allowed);
    return result.NumericCode;
}

void TFtpClient::Impl::DiscardStaleReplies()
{
    while (staleReplies > 0 && control.Valid()) {
        --staleReplies;
        if (!ReadReplyUntil(net::DeadlineAfter(kStaleReplyWait)))
            break;
    }
    staleReplies = 0;
    // Anything else already here (a late second answer) goes the same way.
    TakeWaiting();
    while (control.Valid() && input.find('\n', inputPos) != std::string::npos) {
        if (!ReadReplyUntil(net::SteadyClock::now() + std::chrono::milliseconds(200)))
            break;
    }
}

void TFtpClient::Impl::WriteLine(const std::string& text)
{
    RequireSafeCommand(text);
    RequireConnection();
    const std::string line = text + "\r\n";
    std::size_t sent = 0;
    const unsigned expected = generation;
    const auto deadline = net::DeadlineAfter(limits.ReplyTimeout);
    while (sent < line.size()) {
        const ssize_t n
            = ::send(control.Get(), line.data() + sent, line.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            const int error = errno;
            CloseControl();
            if (error == EPIPE)
                throw EConnectionClosed();
            net::ThrowSocketError(error);
        }
        const auto outcome = net::Wait(control.Get(), POLLOUT, deadline, Pumper(),
            [this, expected] { return ControlWaitStopped(expected); });
        if (outcome == net::WaitOutcome::Stopped) {
            CheckConnectCancel();
            throw ENotConnected(true);
        }
        if (outcome == net::WaitOutcome::TimedOut) {
            Disconnect();
            throw EReadTimeout();
        }
    }
    Pumper()();
}

int TFtpClient::Impl::SendCommand(const std::string& text, const std::vector<int>& allowed)
{
    RequireSafeCommand(text);
    RequireConnection();
    DiscardStaleReplies();
    WriteLine(text);
    return ReadReply(allowed);
}

void TFtpClient::Impl::Login()
{
    LoginSettings settings { host, port, username, proxy };
    int previous = 0;
    for (const auto& step : BuildLoginSteps(settings)) {
        if (step.onlyAfter331 && previous != 331)
            continue;
        std::string text = step.text;
        if (step.sendsTargetPassword)
            text += LoginPassword(password, lastReply.ReplyText) + step.suffix;
        previous = SendCommand(text, step.allowed);
    }

    SendCommand("FEAT", {});
    capabilities = lastReply.ReplyText;
    if (!capabilities.empty())
        capabilities.erase(capabilities.begin());
    if (!capabilities.empty())
        capabilities.pop_back();

    SendCommand(transferType == TFtpTransferType::ftBinary ? "TYPE I" : "TYPE A", { 200 });
}

void TFtpClient::Impl::AfterLogin()
{
    const int code = SendCommand("SYST", {});
    systemDescription
        = code == 500 || lastReply.ReplyText.empty() ? std::string("Unknown") : lastReply.ReplyText.front();
    if (ServerWantsZoneQuery(greeting, capabilities))
        SendCommand("SITE ZONE", {});
}

// ---- Construction and settings ----

TFtpClient::TFtpClient()
    : d(std::make_unique<Impl>(*this))
{
}

TFtpClient::~TFtpClient()
{
    // No notification from a client that is going away.
    d->control.Reset();
}

const std::string& TFtpClient::Host() const noexcept
{
    return d->host;
}
void TFtpClient::SetHost(std::string host)
{
    d->host = std::move(host);
}
int TFtpClient::Port() const noexcept
{
    return d->port;
}
void TFtpClient::SetPort(int port)
{
    d->port = port;
}
const std::string& TFtpClient::Username() const noexcept
{
    return d->username;
}
void TFtpClient::SetUsername(std::string user)
{
    d->username = std::move(user);
}
const std::string& TFtpClient::Password() const noexcept
{
    return d->password;
}
void TFtpClient::SetPassword(std::string password)
{
    d->password = std::move(password);
}
bool TFtpClient::AutoLogin() const noexcept
{
    return d->autoLogin;
}
void TFtpClient::SetAutoLogin(bool autoLogin)
{
    d->autoLogin = autoLogin;
}
bool TFtpClient::Passive() const noexcept
{
    return d->passive;
}
void TFtpClient::SetPassive(bool passive)
{
    d->passive = passive;
}
TFtpTransferType TFtpClient::TransferType() const noexcept
{
    return d->transferType;
}

void TFtpClient::SetTransferType(TFtpTransferType type)
{
    if (type == d->transferType || d->transferring)
        return;
    d->transferType = type;
    if (d->control.Valid())
        d->SendCommand(type == TFtpTransferType::ftBinary ? "TYPE I" : "TYPE A", { 200 });
}

int TFtpClient::TransferTimeout() const noexcept
{
    return d->transferTimeout;
}
void TFtpClient::SetTransferTimeout(int milliseconds)
{
    d->transferTimeout = std::max(0, milliseconds);
}
TFtpProxySettings& TFtpClient::ProxySettings() noexcept
{
    return d->proxy;
}
const TFtpProxySettings& TFtpClient::ProxySettings() const noexcept
{
    return d->proxy;
}
const TFtpLimits& TFtpClient::Limits() const noexcept
{
    return d->limits;
}
void TFtpClient::SetLimits(const TFtpLimits& limits)
{
    d->limits = limits;
}

const TFtpReply& TFtpClient::LastReply() const noexcept
{
    return d->lastReply;
}
const TFtpReply& TFtpClient::Greeting() const noexcept
{
    return d->greeting;
}
const std::vector<std::string>& TFtpClient::Capabilities() const noexcept
{
    return d->capabilities;
}
const std::string& TFtpClient::SystemDescription() const noexcept
{
    return d->systemDescription;
}

// ---- Control connection ----

void TFtpClient::Connect()
{
    if (d->control.Valid() || d->connecting)
        throw EAlreadyConnected();
    d->connecting = true;
    d->connectCancel = Impl::ConnectCancel::None;
    struct Done {
        Impl& d;
        ~Done()
        {
            d.connecting = false;
            d.connectCancel = Impl::ConnectCancel::None;
        }
    } done { *d };
    const bool viaProxy = d->proxy.ProxyType != TFtpProxyType::fpcmNone && !d->proxy.Host.empty();
    const std::string& endpointHost = viaProxy ? d->proxy.Host : d->host;
    const int endpointPort = viaProxy ? d->proxy.Port : d->port;
    try {
        d->control = net::ConnectTcp(endpointHost, endpointPort, d->limits.ConnectTimeout, d->Pumper(),
            [this] { return d->connectCancel != Impl::ConnectCancel::None; });
        // Every command goes out at once, even with an earlier one unacknowledged.
        net::SetNoDelay(d->control.Get());
        d->controlPeer = net::PeerAddress(d->control.Get());
        d->everConnected = true;
        d->input.clear();
        d->inputPos = 0;
        d->staleReplies = 0;
        d->greeting = {};
        d->capabilities.clear();
        d->systemDescription.clear();
        d->restartSupported.reset();
        d->sizeName.clear();
        d->sizeValue = -1;

        d->ReadReply({ 220 });
        d->greeting = d->lastReply;
        if (d->autoLogin) {
            d->Login();
            d->AfterLogin();
        }
    } catch (...) {
        const auto cancel = d->connectCancel;
        d->connecting = false;
        // The reason the connect failed is what the caller reports; a failure of
        // the disconnected notification must not replace it.
        try {
            d->Disconnect();
        } catch (...) {
        }
        if (cancel == Impl::ConnectCancel::Abort)
            throw EOperationAborted();
        if (cancel == Impl::ConnectCancel::Disconnect)
            throw ENotConnected(d->everConnected);
        throw;
    }
}

void TFtpClient::Disconnect()
{
    // Called from the pump while Connect runs: that Connect ends.
    if (d->connecting)
        d->connectCancel = Impl::ConnectCancel::Disconnect;
    d->Disconnect();
}

bool TFtpClient::IsConnected()
{
    d->TakeWaiting();
    return d->control.Valid();
}

int TFtpClient::SendCommand(const std::string& command, std::initializer_list<int> allowed)
{
    return d->SendCommand(command, std::vector<int>(allowed));
}

int TFtpClient::SendCommand(const std::string& command, const std::vector<int>& allowed)
{
    return d->SendCommand(command, allowed);
}

int TFtpClient::ReadReply(std::initializer_list<int> allowed)
{
    return d->ReadReply(std::vector<int>(allowed));
}

int TFtpClient::ReadReply(const std::vector<int>& allowed)
{
    return d->ReadReply(allowed);
}

void TFtpClient::WriteCommandLine(const std::string& text)
{
    d->WriteLine(text);
}

void TFtpClient::ChangeDirectory(const std::string& folder)
{
    d->SendCommand("CWD " + folder, { 200, 250 });
}

bool TFtpClient::IsFeatureSupported(const std::string& feature) const
{
    return std::any_of(d->capabilities.begin(), d->capabilities.end(),
        [&](const std::string& entry) { return AsciiUpper(FirstWord(reply::TrimLeft(entry))) == feature; });
}

} // namespace taskhaul::ftp
