#include "ftp/ftp_client_impl.h"

#include "base/text.h"
#include "ftp/ftp_data.h"
#include "ftp/ftp_local_file.h"
#include "ftp/listing/list_parser.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::ftp {
namespace {

using base::AsciiUpper;
using detail::RequireSafeCommand;

// Size of one read from a data connection and of one write into the
// destination. Large reads and writes are what makes a download fast; the
// progress notification fires once per chunk.
constexpr std::size_t kDataChunkSize = 256 * 1024;

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

// ---- Data transfer, inside ----

bool TFtpClient::Impl::RestartSupported()
{
    if (!restartSupported) {
        const int code = SendCommand("REST 1", {});
        restartSupported = code == 350;
        SendCommand("REST 0", {});
    }
    return *restartSupported;
}

std::int64_t TFtpClient::Impl::ReadData(int fd, TFtpOutputStream& stream)
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

void TFtpClient::Impl::ReadAnnouncement(DataPhase& phase)
{
    if (const auto size = AnnouncedSize(lastReply.ReplyText))
        phase.announced = size;
}

void TFtpClient::Impl::PassiveTransfer(
    const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
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

void TFtpClient::Impl::ActiveTransfer(
    const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
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

void TFtpClient::Impl::TransferData(const std::string& command, TFtpOutputStream& stream, bool resume)
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
            [](const std::string& line) { return AsciiUpper(line).find("TRUNCATED") != std::string::npos; });
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
