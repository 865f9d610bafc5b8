#pragma once

// The control connection of the FTP client: the socket, the lines and replies
// read from it, the commands written to it, replies that arrive after their
// command was given up, and the time limits of every wait. Not for use outside
// src/ftp.

#include "ftp/ftp_client.h"
#include "ftp/ftp_socket.h"
#include "ftp/ftp_tls.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace taskhaul::ftp {

class TDataConnection;

// Where the one data connection of a transfer registers itself while it
// exists, so that an abort or a closed control connection can shut it down.
struct TAbortRegistry {
    TDataConnection* active = nullptr;
    // Shuts the registered data connection's socket; its read loop then ends.
    void ShutdownActive() noexcept;
};

// Refuses a command text with CR, LF or NUL in it: "Invalid character in command.".
void RequireSafeCommand(const std::string& text);

class TControlConnection {
public:
    // How a running Connect was asked to end from inside the pump.
    enum class ConnectCancel { None, Abort, Disconnect };

    // `limits` and `pump` belong to the client and outlive this object;
    // `disconnected` is the client's notification, fired by Disconnect.
    TControlConnection(const TFtpLimits& limits, const std::function<void()>& pump, TAbortRegistry& abort,
        std::function<void()> disconnected);
    ~TControlConnection(); // closes the socket without notification
    TControlConnection(const TControlConnection&) = delete;
    TControlConnection& operator=(const TControlConnection&) = delete;

    // No single wait is longer than the pump interval; the pump runs after each.
    net::Pumper Pumper() const { return net::Pumper { pump_, limits_.PumpInterval }; }

    // ---- A running Connect ----
    void BeginConnect() noexcept;
    void EndConnect() noexcept;
    bool Connecting() const noexcept { return connecting_; }
    // Records how the running Connect is to end; the first request wins, except
    // that Disconnect always does.
    void CancelConnect(ConnectCancel how) noexcept;
    ConnectCancel PendingCancel() const noexcept { return cancel_; }
    // Raises EOperationAborted or ENotConnected when the running Connect was asked to stop.
    void ThrowIfCancelled() const;

    // Opens the TCP connection (the wait ends early when the Connect is cancelled)
    // and forgets everything of an earlier connection.
    void Open(const std::string& host, int port);

    // Runs the TLS handshake on the open socket (implicit TLS at once, explicit
    // after "AUTH TLS" was accepted) within the reply time limit, and requires
    // the server's certificate to be trusted. Raises ETlsError or
    // ECertificateError; the caller closes the connection.
    void StartTls(std::shared_ptr<const TTlsContext> context);
    // The TLS session of the control connection, or null in clear text.
    TTlsChannel* Tls() const noexcept { return tls_.get(); }
    const std::shared_ptr<const TTlsContext>& TlsContext() const noexcept { return tlsContext_; }

    // ---- State ----
    bool Valid() const noexcept { return socket_.Valid(); }
    int Descriptor() const noexcept { return socket_.Get(); }
    const net::Address& Peer() const noexcept { return peer_; }
    bool EverConnected() const noexcept { return everConnected_; }
    // Changes whenever the socket is closed, so that a wait that began before a
    // nested Disconnect notices it.
    unsigned Generation() const noexcept { return generation_; }
    const TFtpReply& LastReply() const noexcept { return lastReply_; }

    // Raises ENotConnected (or the cancel of a running Connect) unless open.
    void RequireConnection() const;

    // Closes the socket and fires the notification, unless the server had
    // closed it already (then it is closed silently).
    void Disconnect();
    // Closes the socket without notification (the server closed it, or it
    // broke). A running transfer loses its data connection too.
    void Close() noexcept;
    // Takes in whatever the server has sent, without waiting. A closed or
    // broken connection is closed here.
    void TakeWaiting();

    // ---- Replies and commands ----
    // Reads one complete reply into LastReply. A server silent beyond `limit`
    // is disconnected and the read fails with EReadTimeout.
    const TFtpReply& ReadOneReply(std::chrono::milliseconds limit);
    // One reply within the reply time limit, checked against `allowed` (empty: any).
    int ReadReply(const std::vector<int>& allowed);
    // The server's greeting (220), as ReadReply. With `tlsHost` set (explicit
    // TLS), a greeting that never comes raises EReadTimeout with the advice
    // "The server seems to expect implicit TLS on this port." when the server
    // turns out to wait for a TLS handshake itself.
    int ReadGreeting(const std::string* tlsHost);
    // Writes the line and CR LF; the pump runs after the write.
    void WriteLine(const std::string& text);
    // Takes in late replies, writes the command and reads its reply.
    int SendCommand(const std::string& text, const std::vector<int>& allowed);

    // Replies on their way that no caller will read (the answer to an ABOR,
    // or the final reply of a transfer that broke); taken in before the next
    // command.
    void ExpectStaleReply() noexcept { ++staleReplies_; }
    void DiscardStaleReplies();

private:
    bool WaitStopped(unsigned expected) const noexcept;
    bool AwaitsTls(const std::string& host);
    bool FillInput(net::Deadline deadline);
    std::optional<std::string> ReadLine(net::Deadline deadline);
    std::optional<TFtpReply> ReadReplyUntil(net::Deadline deadline);

    const TFtpLimits& limits_;
    const std::function<void()>& pump_;
    TAbortRegistry& abort_;
    std::function<void()> disconnected_;

    net::Fd socket_;
    std::shared_ptr<const TTlsContext> tlsContext_;
    std::unique_ptr<TTlsChannel> tls_; // declared after socket_: freed before it closes
    net::Address peer_;
    std::string input_; // bytes received and not yet taken as lines
    std::size_t inputPos_ = 0; // start of the unread part of input_
    bool everConnected_ = false;
    unsigned generation_ = 0;
    int staleReplies_ = 0;
    TFtpReply lastReply_;

    bool connecting_ = false;
    ConnectCancel cancel_ = ConnectCancel::None;
};

} // namespace taskhaul::ftp
