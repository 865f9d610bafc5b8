#pragma once

// The TLS layer of the FTP client (OpenSSL 3): a context per connection with
// the system's trusted certificates, and a channel that runs one TLS session
// over a non-blocking socket. Reads and writes behave like recv and send with
// MSG_DONTWAIT, so that the control and data connections keep their pumped
// waits; the channel tells which event (POLLIN or POLLOUT) to wait for.
// Not for use outside src/ftp.

#include "ftp/ftp_security.h"
#include "ftp/ftp_socket.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <signal.h>
#include <sys/types.h>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

namespace taskhaul::ftp {

// OpenSSL writes with write(2): a peer that has gone would raise SIGPIPE and
// end the program. Every call into OpenSSL that may write runs inside one of
// these: SIGPIPE is blocked meanwhile, and one raised then is taken back before
// it is unblocked. Scopes nest; only the outermost one costs system calls, so
// a read loop holds one for its whole length.
class TSigpipeScope {
public:
    TSigpipeScope() noexcept;
    ~TSigpipeScope();
    TSigpipeScope(const TSigpipeScope&) = delete;
    TSigpipeScope& operator=(const TSigpipeScope&) = delete;

private:
    bool active_ = false;
    bool wasPending_ = false;
    sigset_t old_ {};
};

// The trust of one connection: the host name or address the user typed (the
// certificate must name it) and the fingerprint the user trusts (64 hex
// digits or empty).
class TTlsContext {
public:
    TTlsContext(std::string host, std::string trustedFingerprint);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    SSL_CTX* Get() const noexcept { return ctx_; }
    const std::string& Host() const noexcept { return host_; }
    const std::string& TrustedFingerprint() const noexcept { return trusted_; }

    // The session the next data connection resumes: kept from a data
    // connection that ended cleanly (it holds the server's newest ticket), and
    // given out once.
    void KeepSession(SSL* ssl) const;
    SSL_SESSION* TakeSession() const;

private:
    SSL_CTX* ctx_ = nullptr;
    mutable SSL_SESSION* session_ = nullptr;
    std::string host_;
    std::string trusted_;
};

class TTlsChannel {
public:
    // A client session over `fd` (not owned). `resume`: the control
    // connection's channel, whose session a data connection takes up again.
    TTlsChannel(const TTlsContext& context, int fd, const TTlsChannel* resume = nullptr);
    ~TTlsChannel();
    TTlsChannel(const TTlsChannel&) = delete;
    TTlsChannel& operator=(const TTlsChannel&) = delete;

    // Sends the first handshake message without waiting for the answer.
    void StartHandshake();
    // Completes the handshake, waiting at most until the deadline ("TLS
    // handshake timed out.") in pumped waits. `stopped` ends the wait with
    // EConnectionClosed. Raises ETlsError when the server does not speak TLS.
    void Handshake(net::Deadline deadline, const net::Pumper& pumper, const std::function<bool()>& stopped);

    // Like recv/send with MSG_DONTWAIT: bytes, 0 at the end of the stream, or
    // -1 with errno set (EAGAIN: wait for WaitEvents()). A TLS protocol
    // failure raises ETlsError.
    ssize_t Read(char* buffer, std::size_t size);
    ssize_t Write(const char* data, std::size_t size);
    short WaitEvents() const noexcept { return wait_; }
    // The handshake has completed and no fatal error has happened since.
    bool Usable() const noexcept;
    // Bytes decrypted and not yet read.
    bool Pending() const;
    // The stream ended without the server's close_notify.
    bool Truncated() const noexcept { return truncated_; }
    // Sends close_notify, waiting for the socket at most until the deadline;
    // never raises. A data channel then leaves its session for the next one.
    void Shutdown(net::Deadline deadline, const net::Pumper& pumper) noexcept;

    // The server's certificate and the verdict on it, as of the handshake.
    const TFtpCertificateInfo& Certificate() const noexcept { return certificate_; }
    // Raises ECertificateError unless the certificate is accepted: verified,
    // or equal to the trusted fingerprint (which, when set, must match).
    void RequireTrusted() const;

    SSL* Get() const noexcept { return ssl_; }

private:
    ssize_t Finish(int result, bool reading);
    void Examine();

    const TTlsContext& context_;
    SSL* ssl_ = nullptr;
    short wait_ = 0;
    bool truncated_ = false;
    bool failed_ = false;
    bool keepSession_ = false; // a data channel: its session serves the next one
    TFtpCertificateInfo certificate_;
};

// The bytes start like a TLS record (a handshake message or an alert).
bool LooksLikeTlsRecord(std::string_view bytes);
// A ClientHello for `host`, as the bytes of its record: sent to a server that
// says nothing, it makes a server that speaks TLS from the first byte answer.
// Empty when OpenSSL fails.
std::string TlsClientHello(const std::string& host);

// Reads or writes through the channel when there is one, else on the socket
// itself; `waitFor` receives the event to wait for after EAGAIN.
ssize_t ReadSome(int fd, TTlsChannel* tls, char* buffer, std::size_t size, short& waitFor);
ssize_t WriteSome(int fd, TTlsChannel* tls, const char* data, std::size_t size, short& waitFor);

} // namespace taskhaul::ftp
