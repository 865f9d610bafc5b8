#pragma once

// The data connection of one transfer: it owns its socket (or, in active mode,
// first the listening socket), registers itself for abort while it exists, and
// reads everything the server sends into a stream. Not for use outside src/ftp.

#include "ftp/ftp_client.h"
#include "ftp/ftp_control.h"
#include "ftp/ftp_socket.h"
#include "ftp/ftp_stream.h"
#include "ftp/ftp_tls.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace taskhaul::ftp {

class TDataConnection {
public:
    // Registers in `registry` until destroyed; at most one exists at a time.
    explicit TDataConnection(TAbortRegistry& registry) noexcept;
    ~TDataConnection();
    TDataConnection(const TDataConnection&) = delete;
    TDataConnection& operator=(const TDataConnection&) = delete;

    // Passive mode: connects to the server's data port. `stopped` ends the wait
    // with EConnectionClosed.
    void Connect(const net::Address& address, net::Deadline deadline, const net::Pumper& pumper,
        const std::function<bool()>& stopped);

    // Active mode: listens on `local` (port 0: any free port), backlog 15;
    // returns the address the server is to connect to.
    net::Address Listen(net::Address local);
    // Waits for the server's connection and closes the listening socket. Only
    // `serverHost` may connect: a connection from any other host is turned
    // away and the wait goes on. Raises EConnectTimeout at the deadline and
    // EConnectionClosed when `stopped`.
    void Accept(const std::string& serverHost, net::Deadline deadline, const net::Pumper& pumper,
        const std::function<bool()>& stopped);

    // Protected data (PROT P): starts the TLS handshake on the connected socket,
    // taking up the control connection's session, and sends the first message
    // at once; ReadAll completes it. Call once the server has accepted the
    // command, so that a server that begins TLS only then is not kept waiting.
    void BeginTls(const TTlsContext& context, const TTlsChannel& control);
    // The TLS stream ended without the server's close_notify: what arrived
    // may be only a part.
    bool Truncated() const noexcept { return tls_ && tls_->Truncated(); }

    struct ReadOptions {
        // A connection that brings no byte for this long fails with "Read Timeout"
        // (a TLS handshake not done by then: "TLS handshake timed out.").
        std::chrono::milliseconds idleLimit;
        net::Pumper pumper;
        // The read ends quietly once this returns true (abort, control connection gone).
        std::function<bool()> stopped;
        // A socket error after an abort ends the read quietly too.
        std::function<bool()> aborted;
        // The size OnWorkBegin reports: what the client knows of the file (0: nothing).
        std::int64_t workMax = 0;
        const TFtpClient::WorkBeginHandler* onWorkBegin = nullptr;
        const TFtpClient::WorkHandler* onWork = nullptr;
        const TFtpClient::WorkEndHandler* onWorkEnd = nullptr;
        // Chunk buffer, reused from transfer to transfer.
        std::vector<char>* buffer = nullptr;
    };
    // Reads into the stream until the server closes the connection (or it is
    // shut down here). Returns the number of bytes taken in.
    std::int64_t ReadAll(TFtpOutputStream& stream, const ReadOptions& options);

    // Shuts the data socket down: a read waiting on it ends. Never waits.
    void Shutdown() noexcept;

private:
    TAbortRegistry& registry_;
    net::Fd listener_;
    net::Fd socket_;
    std::unique_ptr<TTlsChannel> tls_; // declared after socket_: freed before it closes
    std::string controlFingerprint_;
};

} // namespace taskhaul::ftp
