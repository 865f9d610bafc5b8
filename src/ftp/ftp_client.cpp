#include "ftp/ftp_client.h"

#include "ftp/ftp_data.h"
#include "ftp/ftp_local_file.h"
#include "ftp/ftp_login.h"
#include "ftp/ftp_socket.h"
#include "ftp/listing/list_parser.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <optional>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::ftp {
namespace {

// Size of one read from a socket and of one write into the destination. Large
// reads and writes are what makes a download fast; the progress notification
// fires once per chunk.
constexpr std::size_t kControlReadSize = 32768;
constexpr std::size_t kDataChunkSize = 256 * 1024;

// How long to wait for a reply that nobody asked for any more (the answer to an
// ABOR sent while no transfer ran) before the next command is sent.
constexpr std::chrono::milliseconds kStaleReplyWait { 10000 };

std::string ToUpper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

std::string_view FirstWord(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

void RequireSafeCommand(const std::string& text)
{
    if (text.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
        throw EFtpException("Invalid character in command.");
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
        if (ToUpper(word) != "SITE")
            continue;
        std::string_view rest = text.substr(word.size());
        for (std::size_t pos = 0; pos <= rest.size();) {
            const auto semicolon = rest.find(';', pos);
            const auto item = reply::Trim(
                rest.substr(pos, semicolon == std::string_view::npos ? rest.npos : semicolon - pos));
            if (ToUpper(item) == "ZONE")
                return true;
            if (semicolon == std::string_view::npos)
                break;
            pos = semicolon + 1;
        }
    }
    return false;
}

// Collects a listing in memory up to a limit; one byte more fails the transfer.
class TListingStream final : public TFtpOutputStream {
public:
    explicit TListingStream(std::size_t limit)
        : limit_(limit)
    {
    }
    void Write(const char* data, std::size_t size) override
    {
        if (size > limit_ - text_.size())
            throw EListingTooLong();
        text_.append(data, size);
    }
    std::int64_t Position() const override { return static_cast<std::int64_t>(text_.size()); }
    const std::string& Text() const noexcept { return text_; }

private:
    std::size_t limit_;
    std::string text_;
};

ListDateTime LocalNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    return ListDateTime { local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
        local.tm_sec, 0 };
}

} // namespace

struct TFtpClient::Impl {
    explicit Impl(TFtpClient& owner)
        : self(owner)
    {
    }

    TFtpClient& self;

    // Settings.
    std::string host;
    int port = 21;
    std::string username;
    std::string password;
    bool autoLogin = true;
    bool passive = false;
    TFtpTransferType transferType = TFtpTransferType::ftBinary;
    int transferTimeout = 0;
    TFtpProxySettings proxy;
    TFtpLimits limits;

    // Control connection.
    net::Fd control;
    net::Address controlPeer; // the server end of the control connection
    std::string input; // bytes received and not yet taken as lines
    std::size_t inputPos = 0; // start of the unread part of `input`
    bool everConnected = false;
    // Set while Connect runs; a call of AbortTransfer or Disconnect from the pump
    // records here how Connect is to end.
    enum class ConnectCancel { None, Abort, Disconnect };
    bool connecting = false;
    ConnectCancel connectCancel = ConnectCancel::None;
    // Changes whenever the control socket is closed, so that a wait that began
    // before a nested Disconnect notices it.
    unsigned generation = 0;
    // Replies on their way that no caller will read (the answer to an ABOR, or
    // the final reply of a transfer that broke); taken in before the next command.
    int staleReplies = 0;

    TFtpReply lastReply;
    TFtpReply transferReply; // the final reply of the last confirmed transfer
    TFtpReply greeting;
    std::vector<std::string> capabilities;
    std::string systemDescription;

    // Data connection.
    bool transferring = false;
    bool abortRequested = false;
    int dataFd = -1;
    std::vector<char> dataBuffer;
    std::optional<bool> restartSupported;
    std::string sizeName; // the last name asked with SIZE, and its answer
    std::int64_t sizeValue = -1;

    // Listing.
    std::vector<std::string> listingLines;
    TFtpReply listingReply;
    bool listingTruncated = false;
    TFtpListItems parsed;
    bool parsedValid = false;
    std::string listingFormat;

    net::Pumper Pumper() const { return net::Pumper { self.Pump, limits.PumpInterval }; }

    // Ends a Connect that was asked to stop: EOperationAborted for AbortTransfer,
    // ENotConnected for Disconnect.
    void CheckConnectCancel() const
    {
        if (connectCancel == ConnectCancel::Abort)
            throw EOperationAborted();
        if (connectCancel == ConnectCancel::Disconnect)
            throw ENotConnected(everConnected);
    }

    void RequireConnection() const
    {
        CheckConnectCancel();
        if (!control.Valid())
            throw ENotConnected(everConnected);
    }

    // True when a wait on the control connection must end: the socket was closed
    // meanwhile, or a running Connect was asked to stop.
    bool ControlWaitStopped(unsigned expected) const
    {
        return generation != expected || connectCancel != ConnectCancel::None;
    }

    // Closes the control socket and fires OnDisconnected, unless the server had
    // closed it already (then it is closed silently).
    void Disconnect()
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

    // Closes the control socket without notification (the server closed it, or
    // it broke). A transfer in progress loses its data connection too.
    void CloseControl()
    {
        control.Reset();
        input.clear();
        inputPos = 0;
        staleReplies = 0;
        ++generation;
        if (dataFd >= 0)
            ::shutdown(dataFd, SHUT_RDWR);
    }

    // Takes in whatever the server has sent, without waiting. A closed or broken
    // connection is closed here.
    void TakeWaiting()
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

    // Reads more bytes from the control connection, waiting until the deadline.
    // Returns false when the deadline passed.
    bool FillInput(net::Deadline deadline)
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

    // One line without its line break; nullopt when the deadline passed first.
    std::optional<std::string> ReadLine(net::Deadline deadline)
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

    // Reads one complete reply. Returns nullopt when the deadline passed.
    std::optional<TFtpReply> ReadReplyUntil(net::Deadline deadline)
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

    TFtpReply ReadOneReply(std::chrono::milliseconds limit)
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

    int ReadReply(const std::vector<int>& allowed)
    {
        const auto result = ReadOneReply(limits.ReplyTimeout);
        reply::Check(result, allowed);
        return result.NumericCode;
    }

    // Takes in replies that belong to no command any more, so that the next
    // command gets its own reply.
    void DiscardStaleReplies()
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

    void WriteLine(const std::string& text)
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

    int SendCommand(const std::string& text, const std::vector<int>& allowed)
    {
        RequireSafeCommand(text);
        RequireConnection();
        DiscardStaleReplies();
        WriteLine(text);
        return ReadReply(allowed);
    }

    void Login()
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

    void AfterLogin()
    {
        const int code = SendCommand("SYST", {});
        systemDescription = code == 500 || lastReply.ReplyText.empty() ? std::string("Unknown")
                                                                       : lastReply.ReplyText.front();
        if (ServerWantsZoneQuery(greeting, capabilities))
            SendCommand("SITE ZONE", {});
    }

    bool RestartSupported()
    {
        if (!restartSupported) {
            const int code = SendCommand("REST 1", {});
            restartSupported = code == 350;
            SendCommand("REST 0", {});
        }
        return *restartSupported;
    }

    // ---- Data transfer ----

    // Reads the data connection into the stream until the server closes it (or
    // AbortTransfer closes it here). Returns the number of bytes taken in.
    std::int64_t ReadData(int fd, TFtpOutputStream& stream)
    {
        if (self.OnWorkBegin)
            self.OnWorkBegin(TWorkMode::wmRead, 0);
        std::int64_t total = 0;
        try {
            dataBuffer.resize(kDataChunkSize);
            char* const buffer = dataBuffer.data();
            std::size_t filled = 0;
            const auto idleLimit
                = transferTimeout > 0 ? std::chrono::milliseconds(transferTimeout) : limits.DataIdleTimeout;
            const unsigned expected = generation;
            auto idleDeadline = net::DeadlineAfter(idleLimit);
            auto nextPump = net::SteadyClock::now() + limits.PumpInterval;
            const auto flush = [&] {
                if (filled == 0)
                    return;
                stream.Write(buffer, filled);
                total += static_cast<std::int64_t>(filled);
                filled = 0;
                if (self.OnWork)
                    self.OnWork(TWorkMode::wmRead, total);
            };
            for (;;) {
                if (abortRequested || generation != expected)
                    break;
                const ssize_t n = ::recv(fd, buffer + filled, kDataChunkSize - filled, MSG_DONTWAIT);
                if (n > 0) {
                    filled += static_cast<std::size_t>(n);
                    const auto now = net::SteadyClock::now();
                    idleDeadline = now + idleLimit;
                    if (filled == kDataChunkSize)
                        flush();
                    if (now >= nextPump) {
                        // Data that keeps arriving must not starve the user interface.
                        Pumper()();
                        nextPump = net::SteadyClock::now() + limits.PumpInterval;
                    }
                    continue;
                }
                if (n == 0)
                    break;
                if (errno == EINTR)
                    continue;
                if (errno != EAGAIN && errno != EWOULDBLOCK) {
                    if (abortRequested)
                        break;
                    net::ThrowSocketError(errno);
                }
                flush();
                const auto outcome = net::Wait(fd, POLLIN, idleDeadline, Pumper(),
                    [this, expected] { return abortRequested || generation != expected; });
                nextPump = net::SteadyClock::now() + limits.PumpInterval;
                if (outcome == net::WaitOutcome::TimedOut)
                    throw EReadTimeout();
                if (outcome == net::WaitOutcome::Stopped)
                    break;
            }
            flush();
        } catch (...) {
            if (self.OnWorkEnd)
                self.OnWorkEnd(TWorkMode::wmRead);
            throw;
        }
        if (self.OnWorkEnd)
            self.OnWorkEnd(TWorkMode::wmRead);
        return total;
    }

    struct DataPhase {
        bool accepted = false; // the server accepted the command (1xx reply)
        std::int64_t received = 0;
        std::optional<std::int64_t> announced; // from the reply to the command
    };

    void ReadAnnouncement(DataPhase& phase)
    {
        if (const auto size = AnnouncedSize(lastReply.ReplyText))
            phase.announced = size;
    }

    void PassiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
    {
        if (self.IsFeatureSupported("PRET"))
            SendCommand("PRET " + command, {});
        // Late replies were taken in by TransferData just now.
        WriteLine("PASV");
        ReadReply({ 227 });
        const auto endpoint = ParsePassiveReply(lastReply.ReplyText);
        // The address in the reply is not trusted: a hostile server could make
        // the client connect anywhere. The data comes from the control peer.
        auto address = controlPeer;
        address.SetPort(endpoint.port);
        const unsigned expected = generation;
        net::Fd data = net::ConnectTcp(address, net::DeadlineAfter(limits.ConnectTimeout), Pumper(),
            [this, expected] { return abortRequested || generation != expected; });
        dataFd = data.Get();
        try {
            if (resume)
                SendCommand("REST " + std::to_string(stream.Position()), { 350 });
            WriteLine(command);
            ReadReply({ 125, 150, 154 });
            phase.accepted = true;
            ReadAnnouncement(phase);
            phase.received = ReadData(data.Get(), stream);
        } catch (...) {
            dataFd = -1;
            throw;
        }
        dataFd = -1;
    }

    void ActiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
    {
        auto local = net::LocalAddress(control.Get());
        if (local.Family() != AF_INET)
            throw EFtpException("Active mode needs an IPv4 connection; use passive mode.");
        local.SetPort(0);
        net::Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!listener.Valid())
            net::ThrowSocketError(errno);
        if (::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&local.storage), local.length) != 0
            || ::listen(listener.Get(), 15) != 0)
            net::ThrowSocketError(errno);
        const auto bound = net::LocalAddress(listener.Get());
        SendCommand("PORT " + PortArgument(bound.HostText(), bound.Port()), { 200 });
        if (resume)
            SendCommand("REST " + std::to_string(stream.Position()), { 350 });
        SendCommand(command, { 125, 150, 154 });
        phase.accepted = true;
        ReadAnnouncement(phase);

        // Only the server may deliver the data: a connection from any other
        // host is turned away and the wait goes on.
        const std::string serverHost = controlPeer.HostText();
        const unsigned expected = generation;
        const auto deadline = net::DeadlineAfter(limits.AcceptTimeout);
        net::Fd data;
        while (!data.Valid()) {
            const auto outcome = net::Wait(listener.Get(), POLLIN, deadline, Pumper(),
                [this, expected] { return abortRequested || generation != expected; });
            if (outcome == net::WaitOutcome::TimedOut)
                throw EConnectTimeout();
            if (outcome == net::WaitOutcome::Stopped)
                throw EConnectionClosed();
            data.Reset(::accept4(listener.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
            if (!data.Valid()) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                    continue;
                net::ThrowSocketError(errno);
            }
            if (net::PeerAddress(data.Get()).HostText() != serverHost)
                data.Reset();
        }
        listener.Reset();
        dataFd = data.Get();
        try {
            phase.received = ReadData(data.Get(), stream);
        } catch (...) {
            dataFd = -1;
            throw;
        }
        dataFd = -1;
    }

    void TransferData(const std::string& command, TFtpOutputStream& stream, bool resume)
    {
        RequireSafeCommand(command);
        RequireConnection();
        if (transferring)
            throw EFtpException("A transfer is already running.");
        DiscardStaleReplies();

        std::optional<std::int64_t> expectedSize;
        const bool retrieval = command.starts_with("RETR ");
        if (retrieval && transferType == TFtpTransferType::ftBinary && sizeName == command.substr(5)
            && sizeValue >= 0)
            expectedSize = sizeValue;
        const std::int64_t startPosition = resume ? stream.Position() : 0;

        transferring = true;
        abortRequested = false;
        struct Reset {
            Impl& d;
            ~Reset()
            {
                d.transferring = false;
                d.dataFd = -1;
            }
        } reset { *this };

        DataPhase phase;
        try {
            if (passive)
                PassiveTransfer(command, stream, resume, phase);
            else
                ActiveTransfer(command, stream, resume, phase);
        } catch (const EFtpException&) {
            // The server answers an ABOR, or a data connection we dropped after it
            // accepted the command, in its own way; whatever it sends is taken in
            // before the next command.
            if (abortRequested || phase.accepted)
                staleReplies = 1;
            if (!abortRequested)
                throw;
            throw EOperationAborted();
        }

        // Only 226 and 250 confirm a transfer; any other final reply fails it with
        // the server's words, whatever arrived. 426 and 450 (cut short) are followed
        // by a closing reply, which is taken in here so that the next command gets
        // its own.
        const TFtpReply finalReply = ReadOneReply(limits.ReplyTimeout);
        const int final = finalReply.NumericCode;
        if (final == 426 || final == 450)
            ReadOneReply(limits.ReplyTimeout);
        else if (abortRequested)
            staleReplies = 1; // the transfer had ended: the ABOR gets a reply of its own
        if (abortRequested)
            throw EOperationAborted();
        if (final != 226 && final != 250)
            throw EFtpReplyError(final, reply::ErrorText(finalReply));
        transferReply = finalReply;

        // The size the 150 reply names is the file as it is sent; it wins over an
        // earlier SIZE answer. A resumed transfer's reply may name the whole file
        // or the rest, so only SIZE counts there.
        if (phase.announced && retrieval && !resume && transferType == TFtpTransferType::ftBinary)
            expectedSize = *phase.announced;
        if (expectedSize) {
            const std::int64_t wanted = *expectedSize - startPosition;
            if (wanted != phase.received)
                throw EIncompleteTransfer(wanted, phase.received);
        }
    }
};

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
        [&](const std::string& entry) { return ToUpper(FirstWord(reply::TrimLeft(entry))) == feature; });
}

// ---- Data connection and retrieval ----

std::int64_t TFtpClient::FileSize(const std::string& remoteName)
{
    d->sizeName.clear();
    d->sizeValue = -1;
    if (d->SendCommand("SIZE " + remoteName, {}) != 213)
        return -1;
    const std::int64_t size = ParseSizeReply(d->lastReply.ReplyText);
    d->sizeName = remoteName;
    d->sizeValue = size;
    return size;
}

void TFtpClient::RetrieveFile(
    const std::string& remoteName, const std::string& localPath, bool overwrite, bool resume)
{
    RequireSafeCommand(remoteName);
    if (LocalPathExists(localPath)) {
        resume = resume && d->RestartSupported();
        if (!overwrite && resume) {
            // Resuming appends to the file in place: what it holds already is kept.
            auto stream = OpenForAppend(localPath);
            RetrieveToStream(remoteName, stream, true);
            stream.Commit();
            return;
        }
        if (overwrite == resume)
            throw EFileAlreadyExists();
    } else {
        resume = false;
    }

    auto temporary = CreateTemporaryBeside(localPath);
    const std::string temporaryPath = temporary.path;
    try {
        TLocalFileStream stream(std::move(temporary.fd), localPath, 0);
        RetrieveToStream(remoteName, stream, false);
        stream.Commit();
        MoveIntoPlace(temporaryPath, localPath, overwrite);
    } catch (...) {
        ::unlink(temporaryPath.c_str());
        throw;
    }
}

void TFtpClient::RetrieveToStream(const std::string& remoteName, TFtpOutputStream& stream, bool resume)
{
    TransferData("RETR " + remoteName, stream, resume);
}

void TFtpClient::RetrieveToStream(const std::string& remoteName, std::ostream& stream, bool resume)
{
    TFtpStdStream adapter(stream);
    RetrieveToStream(remoteName, adapter, resume);
}

void TFtpClient::TransferData(const std::string& command, TFtpOutputStream& stream, bool resume)
{
    d->TransferData(command, stream, resume);
}

void TFtpClient::AbortTransfer()
{
    if (d->connecting) {
        // Nothing to abort on the server yet: the connect itself ends.
        if (d->connectCancel == Impl::ConnectCancel::None)
            d->connectCancel = Impl::ConnectCancel::Abort;
        return;
    }
    if (d->control.Valid()) {
        const bool transferring = d->transferring;
        if (transferring)
            d->abortRequested = true;
        try {
            d->WriteLine("ABOR");
            if (!transferring)
                ++d->staleReplies;
        } catch (const EFtpException&) {
            // The control connection is gone; a running transfer notices by itself.
        }
    }
    // The read loop of a running transfer finds its socket shut and ends.
    if (d->dataFd >= 0)
        ::shutdown(d->dataFd, SHUT_RDWR);
}

// ---- Listings ----

void TFtpClient::ListFolder(std::vector<std::string>& lines, const std::string& specifier, bool details)
{
    const TFtpTransferType previous = d->transferType;
    d->listingReply = {};
    d->listingTruncated = false;
    const auto restore = [&] {
        if (d->transferType != previous)
            SetTransferType(previous);
    };
    try {
        SetTransferType(TFtpTransferType::ftASCII);
        std::string command = std::string(details ? "LIST" : "NLST") + " " + specifier;
        command = std::string(reply::Trim(command));
        TListingStream text(d->limits.MaxListingBytes);
        TransferData(command, text, false);
        d->listingLines = splitListingLines(text.Text());
        d->listingReply = d->transferReply;
        d->listingTruncated = std::any_of(d->listingReply.ReplyText.begin(), d->listingReply.ReplyText.end(),
            [](const std::string& line) { return ToUpper(line).find("TRUNCATED") != std::string::npos; });
        d->parsed.clear();
        d->parsedValid = false;
        d->listingFormat.clear();
    } catch (...) {
        try {
            restore();
        } catch (const std::exception&) {
            // The first failure is the one to report.
        }
        throw;
    }
    restore();
    lines = d->listingLines;
}

const TFtpReply& TFtpClient::ListingReply() const noexcept
{
    return d->listingReply;
}

bool TFtpClient::ListingTruncated() const noexcept
{
    return d->listingTruncated;
}

const std::vector<std::string>& TFtpClient::ListingLines() const noexcept
{
    return d->listingLines;
}

TFtpListItems& TFtpClient::ParsedListing()
{
    if (!d->parsedValid) {
        d->parsedValid = true;
        d->parsed.clear();
        d->listingFormat.clear();
        if (!d->listingLines.empty()) {
            const ListDateTime today = Clock ? Clock() : LocalNow();
            if (auto ident = parseListing(d->listingLines, d->systemDescription, today, d->parsed))
                d->listingFormat = std::move(*ident);
        }
    }
    return d->parsed;
}

const std::string& TFtpClient::ListingFormat() const noexcept
{
    return d->listingFormat;
}

// ---- Streams ----

TFtpStdStream::TFtpStdStream(std::ostream& out)
    : out_(out)
{
}

void TFtpStdStream::Write(const char* data, std::size_t size)
{
    out_.write(data, static_cast<std::streamsize>(size));
    if (!out_)
        throw EFtpException("Cannot write to the output stream.");
}

std::int64_t TFtpStdStream::Position() const
{
    const auto position = out_.tellp();
    return position < 0 ? 0 : static_cast<std::int64_t>(position);
}

} // namespace taskhaul::ftp
