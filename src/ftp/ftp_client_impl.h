#pragma once

// The inside of TFtpClient, shared by the two files that implement it: the
// control connection, login and settings (ftp_client.cpp), and the data
// transfers and listings (ftp_transfer.cpp). Not for use outside src/ftp.

#include "ftp/ftp_client.h"
#include "ftp/ftp_socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::ftp {
namespace detail {

// Refuses a command text with CR, LF or NUL in it: "Invalid character in command.".
void RequireSafeCommand(const std::string& text);

} // namespace detail

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
    void CheckConnectCancel() const;

    void RequireConnection() const;

    // True when a wait on the control connection must end: the socket was closed
    // meanwhile, or a running Connect was asked to stop.
    bool ControlWaitStopped(unsigned expected) const;

    // Closes the control socket and fires OnDisconnected, unless the server had
    // closed it already (then it is closed silently).
    void Disconnect();

    // Closes the control socket without notification (the server closed it, or
    // it broke). A transfer in progress loses its data connection too.
    void CloseControl();

    // Takes in whatever the server has sent, without waiting. A closed or broken
    // connection is closed here.
    void TakeWaiting();

    // Reads more bytes from the control connection, waiting until the deadline.
    // Returns false when the deadline passed.
    bool FillInput(net::Deadline deadline);

    // One line without its line break; nullopt when the deadline passed first.
    std::optional<std::string> ReadLine(net::Deadline deadline);

    // Reads one complete reply. Returns nullopt when the deadline passed.
    std::optional<TFtpReply> ReadReplyUntil(net::Deadline deadline);

    TFtpReply ReadOneReply(std::chrono::milliseconds limit);

    int ReadReply(const std::vector<int>& allowed);

    // Takes in replies that belong to no command any more, so that the next
    // command gets its own reply.
    void DiscardStaleReplies();

    void WriteLine(const std::string& text);

    int SendCommand(const std::string& text, const std::vector<int>& allowed);

    void Login();

    void AfterLogin();

    bool RestartSupported();

    // ---- Data transfer ----

    // Reads the data connection into the stream until the server closes it (or
    // AbortTransfer closes it here). Returns the number of bytes taken in.
    std::int64_t ReadData(int fd, TFtpOutputStream& stream);

    struct DataPhase {
        bool accepted = false; // the server accepted the command (1xx reply)
        std::int64_t received = 0;
        std::optional<std::int64_t> announced; // from the reply to the command
    };

    void ReadAnnouncement(DataPhase& phase);

    void PassiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase);

    void ActiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase);

    void TransferData(const std::string& command, TFtpOutputStream& stream, bool resume);
};

} // namespace taskhaul::ftp
