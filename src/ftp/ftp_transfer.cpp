#include "ftp/ftp_client_impl.h"

#include "base/scope_exit.h"
#include "base/text.h"
#include "ftp/ftp_data.h"
#include "ftp/ftp_local_file.h"
#include "ftp/ftp_login.h"
#include "ftp/listing/list_parser.h"

#include <algorithm>
#include <ctime>

#include <sys/socket.h>

namespace taskhaul::ftp {
namespace {

using base::AsciiUpper;

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
        const int code = control.SendCommand("REST 1", {});
        restartSupported = code == 350;
        control.SendCommand("REST 0", {});
    }
    return *restartSupported;
}

TDataConnection::ReadOptions TFtpClient::Impl::ReadOptionsFor(unsigned generation)
{
    TDataConnection::ReadOptions options;
    options.idleLimit
        = transferTimeout > 0 ? std::chrono::milliseconds(transferTimeout) : limits.DataIdleTimeout;
    options.pumper = control.Pumper();
    options.stopped = [this, generation] { return abortRequested || control.Generation() != generation; };
    options.aborted = [this] { return abortRequested; };
    options.onWorkBegin = &self.OnWorkBegin;
    options.onWork = &self.OnWork;
    options.onWorkEnd = &self.OnWorkEnd;
    options.buffer = &dataBuffer;
    return options;
}

namespace {

void ReadAnnouncement(const TFtpReply& reply, std::optional<std::int64_t>& announced)
{
    if (const auto size = AnnouncedSize(reply.ReplyText))
        announced = size;
}

} // namespace

void TFtpClient::Impl::PassiveTransfer(
    const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
{
    if (HasFeature(capabilities, "PRET"))
        control.SendCommand("PRET " + command, {});
    // Late replies were taken in by TransferData just now. Over IPv6 the
    // extended form (RFC 2428), which names only the port.
    int port = 0;
    if (control.Peer().Family() == AF_INET6) {
        control.WriteLine("EPSV");
        control.ReadReply({ 229 });
        port = ParseExtendedPassiveReply(control.LastReply().ReplyText);
    } else {
        control.WriteLine("PASV");
        control.ReadReply({ 227 });
        port = ParsePassiveReply(control.LastReply().ReplyText).port;
    }
    // The address in the reply is not trusted: a hostile server could make
    // the client connect anywhere. The data comes from the control peer.
    auto address = control.Peer();
    address.SetPort(port);
    const unsigned generation = control.Generation();
    TDataConnection data(abortRegistry);
    data.Connect(address, net::DeadlineAfter(limits.ConnectTimeout), control.Pumper(),
        [this, generation] { return abortRequested || control.Generation() != generation; });
    if (resume)
        control.SendCommand("REST " + std::to_string(stream.Position()), { 350 });
    control.WriteLine(command);
    // The first TLS message goes out now, whether the server begins TLS
    // before or after its reply.
    if (control.Tls())
        data.BeginTls(*control.TlsContext(), *control.Tls());
    control.ReadReply({ 125, 150, 154 });
    phase.accepted = true;
    ReadAnnouncement(control.LastReply(), phase.announced);
    TDataConnection::ReadOptions options = ReadOptionsFor(generation);
    options.workMax = phase.known;
    phase.received = data.ReadAll(stream, options);
    phase.unclosed = data.Truncated();
}

void TFtpClient::Impl::ActiveTransfer(
    const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase)
{
    const auto local = net::LocalAddress(control.Descriptor());
    TDataConnection data(abortRegistry);
    const auto bound = data.Listen(local);
    if (bound.Family() == AF_INET6)
        control.SendCommand("EPRT " + ExtendedPortArgument(bound.HostText(), bound.Port()), { 200 });
    else
        control.SendCommand("PORT " + PortArgument(bound.HostText(), bound.Port()), { 200 });
    if (resume)
        control.SendCommand("REST " + std::to_string(stream.Position()), { 350 });
    control.SendCommand(command, { 125, 150, 154 });
    phase.accepted = true;
    ReadAnnouncement(control.LastReply(), phase.announced);

    const unsigned generation = control.Generation();
    data.Accept(control.Peer().HostText(), net::DeadlineAfter(limits.AcceptTimeout), control.Pumper(),
        [this, generation] { return abortRequested || control.Generation() != generation; });
    if (control.Tls())
        data.BeginTls(*control.TlsContext(), *control.Tls());
    TDataConnection::ReadOptions options = ReadOptionsFor(generation);
    options.workMax = phase.known;
    phase.received = data.ReadAll(stream, options);
    phase.unclosed = data.Truncated();
}

bool TFtpClient::Impl::TransferData(
    const std::string& command, TFtpOutputStream& stream, bool resume, Unclosed unclosed)
{
    RequireSafeCommand(command);
    control.RequireConnection();
    if (transferring)
        throw EFtpException("A transfer is already running.");
    control.DiscardStaleReplies();

    std::optional<std::int64_t> expectedSize;
    const bool retrieval = command.starts_with("RETR ");
    if (retrieval && transferType == TFtpTransferType::ftBinary && sizeName == command.substr(5)
        && sizeValue >= 0)
        expectedSize = sizeValue;
    const std::int64_t startPosition = resume ? stream.Position() : 0;

    transferring = true;
    abortRequested = false;
    base::ScopeExit reset { [this]() noexcept { transferring = false; } };

    DataPhase phase;
    // The size the progress starts with: the answer to SIZE, for a whole file.
    if (expectedSize && !resume)
        phase.known = *expectedSize;
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
            control.ExpectStaleReply();
        if (!abortRequested)
            throw;
        throw EOperationAborted();
    }

    // Only 226 and 250 confirm a transfer; any other final reply fails it with
    // the server's words, whatever arrived. 426 and 450 (cut short) are followed
    // by a closing reply, which is taken in here so that the next command gets
    // its own.
    const TFtpReply finalReply = control.ReadOneReply(limits.ReplyTimeout);
    const int final = finalReply.NumericCode;
    if (final == 426 || final == 450)
        control.ReadOneReply(limits.ReplyTimeout);
    else if (abortRequested)
        control.ExpectStaleReply(); // the transfer had ended: the ABOR gets a reply of its own
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
    // Over TLS only close_notify proves that the data ended where the server
    // meant it to: a TCP close can be forged by anyone on the path, and the
    // server's 226 only says that it sent everything.
    if (phase.unclosed) {
        if (unclosed == Unclosed::Fail)
            throw EUnclosedTransfer();
        return false;
    }
    return true;
}

void TFtpClient::Impl::RetrieveFile(
    const std::string& remoteName, const std::string& localPath, bool overwrite, bool resume)
{
    RequireSafeCommand(remoteName);
    const std::string command = "RETR " + remoteName;
    if (TLocalDownload::TargetExists(localPath)) {
        resume = resume && RestartSupported();
        if (!overwrite && resume) {
            // Resuming appends to the file in place: what it holds already is kept.
            TLocalDownload download(localPath, TLocalDownload::Mode::Append, limits.DiskReserve);
            TransferData(command, download, true);
            download.Commit(false);
            return;
        }
        if (overwrite == resume)
            throw EFileAlreadyExists();
    }

    TLocalDownload download(localPath, TLocalDownload::Mode::NewFile, limits.DiskReserve);
    TransferData(command, download, false);
    download.Commit(overwrite);
}

void TFtpClient::Impl::ListFolder(std::vector<std::string>& lines, const std::string& specifier, bool details)
{
    const TFtpTransferType previous = transferType;
    listingReply = {};
    listingTruncated = false;
    listingUnclosed = false;
    const auto restore = [&] {
        if (transferType != previous)
            SetTransferType(previous);
    };
    try {
        SetTransferType(TFtpTransferType::ftASCII);
        std::string command = std::string(details ? "LIST" : "NLST") + " " + specifier;
        ReceiveListing(std::string(reply::Trim(command)));
        listingMachine = false;
    } catch (...) {
        // The restore may fail as well (it sends TYPE): the first failure is
        // the one to report, so no scope guard here.
        try {
            restore();
        } catch (const std::exception&) {
        }
        throw;
    }
    restore();
    lines = listingLines;
}

void TFtpClient::Impl::ReceiveListing(const std::string& command)
{
    listingReply = {};
    listingTruncated = false;
    listingUnclosed = false;
    TListingStream text(limits.MaxListingBytes);
    const bool closed = TransferData(command, text, false, Unclosed::Keep);
    std::string_view received = text.Text();
    if (!closed) {
        // A line the cut went through is not an entry: its name could be
        // the beginning of another file's.
        const auto end = received.rfind('\n');
        received = received.substr(0, end == std::string_view::npos ? 0 : end + 1);
    }
    listingLines = splitListingLines(received);
    listingReply = transferReply;
    listingUnclosed = !closed;
    listingTruncated = listingUnclosed
        || std::any_of(listingReply.ReplyText.begin(), listingReply.ReplyText.end(),
            [](const std::string& line) { return AsciiUpper(line).find("TRUNCATED") != std::string::npos; });
    parsed.clear();
    parsedValid = false;
    listingFormat.clear();
}

// ---- Data connection and retrieval ----

std::int64_t TFtpClient::FileSize(const std::string& remoteName)
{
    const auto operation = d->BeginOperation();
    d->sizeName.clear();
    d->sizeValue = -1;
    if (d->control.SendCommand("SIZE " + remoteName, {}) != 213)
        return -1;
    const std::int64_t size = ParseSizeReply(d->control.LastReply().ReplyText);
    d->sizeName = remoteName;
    d->sizeValue = size;
    return size;
}

void TFtpClient::ExpectSize(const std::string& remoteName, std::int64_t size)
{
    d->sizeName = size >= 0 ? remoteName : std::string();
    d->sizeValue = size;
}

void TFtpClient::RetrieveFile(
    const std::string& remoteName, const std::string& localPath, bool overwrite, bool resume)
{
    const auto operation = d->BeginOperation();
    d->RetrieveFile(remoteName, localPath, overwrite, resume);
}

void TFtpClient::RetrieveToStream(const std::string& remoteName, TFtpOutputStream& stream, bool resume)
{
    const auto operation = d->BeginOperation();
    d->TransferData("RETR " + remoteName, stream, resume);
}

void TFtpClient::RetrieveToStream(const std::string& remoteName, std::ostream& stream, bool resume)
{
    const auto operation = d->BeginOperation();
    TFtpStdStream adapter(stream);
    d->TransferData("RETR " + remoteName, adapter, resume);
}

void TFtpClient::TransferData(const std::string& command, TFtpOutputStream& stream, bool resume)
{
    const auto operation = d->BeginOperation();
    d->TransferData(command, stream, resume);
}

void TFtpClient::AbortTransfer()
{
    TControlConnection& control = d->control;
    if (control.Connecting()) {
        // Nothing to abort on the server yet: the connect itself ends.
        control.CancelConnect(TControlConnection::ConnectCancel::Abort);
        return;
    }
    if (control.Valid()) {
        const bool transferring = d->transferring;
        if (transferring)
            d->abortRequested = true;
        try {
            control.WriteLine("ABOR");
            if (!transferring)
                control.ExpectStaleReply();
        } catch (const EFtpException&) {
            // The control connection is gone; a running transfer notices by itself.
        }
    }
    // The read loop of a running transfer finds its socket shut and ends.
    d->abortRegistry.ShutdownActive();
}

void TFtpClient::Interrupt() noexcept
{
    TControlConnection& control = d->control;
    if (control.Connecting()) {
        control.CancelConnect(TControlConnection::ConnectCancel::Abort);
        return;
    }
    if (d->transferring)
        d->abortRequested = true;
    d->abortRegistry.ShutdownActive();
    if (control.Valid())
        ::shutdown(control.Descriptor(), SHUT_RDWR);
}

// ---- Listings ----

void TFtpClient::ListFolder(std::vector<std::string>& lines, const std::string& specifier, bool details)
{
    const auto operation = d->BeginOperation();
    d->ListFolder(lines, specifier, details);
}

void TFtpClient::ListFolderMachine(std::vector<std::string>& lines)
{
    const auto operation = d->BeginOperation();
    d->ReceiveListing("MLSD");
    d->listingMachine = true;
    lines = d->listingLines;
}

bool TFtpClient::ListingIsMachine() const noexcept
{
    return d->listingMachine;
}

const TFtpReply& TFtpClient::ListingReply() const noexcept
{
    return d->listingReply;
}

bool TFtpClient::ListingTruncated() const noexcept
{
    return d->listingTruncated;
}

std::string TFtpClient::ListingTruncation() const
{
    if (d->listingUnclosed)
        return EUnclosedTransfer::Reason();
    return d->listingTruncated ? reply::ErrorText(d->listingReply) : std::string();
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
            if (d->listingMachine) {
                // Known before the parse: a line it reports leaves the format as it is.
                d->listingFormat = "MLST";
                parseMachineListing(d->listingLines, d->parsed);
            } else if (auto ident = parseListing(d->listingLines, d->systemDescription, today, d->parsed)) {
                d->listingFormat = std::move(*ident);
            }
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
