#include "ftp/ftp_tls.h"

#include "ftp/ftp_errors.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <ctime>

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

namespace taskhaul::ftp {
namespace {

bool IsAddress(const std::string& host)
{
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string Hex(const unsigned char* data, unsigned size)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 0x0F];
    }
    return text;
}

std::string NameText(const X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return {};
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(size > 0 ? size : 0));
    BIO_free(bio);
    return text;
}

std::string TimeText(const ASN1_TIME* time)
{
    std::tm parts {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

std::string VerificationText(long result, const std::string& host)
{
    switch (result) {
    case X509_V_OK:
        return "ok";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the certificate is not valid yet";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "the certificate is self-signed";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the certificate is not for " + host;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "the certificate's issuer is not trusted";
    case X509_V_ERR_CERT_REVOKED:
        return "the certificate has been revoked";
    default:
        return X509_verify_cert_error_string(result);
    }
}

// The reason of the last OpenSSL failure, for a message.
std::string OpenSslReason()
{
    const unsigned long error = ERR_peek_last_error();
    ERR_clear_error();
    if (error == 0)
        return "the connection was closed";
    const int reason = ERR_GET_REASON(error);
    if (ERR_GET_LIB(error) == ERR_LIB_SSL
        && (reason == SSL_R_WRONG_VERSION_NUMBER || reason == SSL_R_PACKET_LENGTH_TOO_LONG
            || reason == SSL_R_UNKNOWN_PROTOCOL))
        return "the server did not answer in TLS";
    if (ERR_GET_LIB(error) == ERR_LIB_SSL && reason == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return "the connection was closed";
    const char* text = ERR_reason_error_string(error);
    return text ? text : "error " + std::to_string(error);
}

bool IsUnexpectedEof()
{
    const unsigned long error = ERR_peek_last_error();
    return ERR_GET_LIB(error) == ERR_LIB_SSL && ERR_GET_REASON(error) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

} // namespace

// ---- SIGPIPE ----

namespace {
thread_local int sigpipeScopes = 0;
} // namespace

TSigpipeScope::TSigpipeScope() noexcept
{
    if (sigpipeScopes++ > 0)
        return;
    active_ = true;
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe, &old_);
}

TSigpipeScope::~TSigpipeScope()
{
    --sigpipeScopes;
    if (!active_)
        return;
    if (!wasPending_) {
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec zero {};
            sigtimedwait(&pipe, nullptr, &zero);
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

std::string NormalizeFingerprint(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return {};
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return digits.size() == 64 ? digits : std::string();
}

std::string ColonFingerprint(const std::string& fingerprint)
{
    const std::string digits = NormalizeFingerprint(fingerprint);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i > 0)
            text += ':';
        text += digits.substr(i, 2);
    }
    return text;
}

std::vector<TCertificateDetail> CertificateDetails(const TFtpCertificateInfo& info)
{
    std::vector<TCertificateDetail> details;
    if (!info.Subject.empty())
        details.push_back({ "subject", info.Subject });
    if (!info.Issuer.empty())
        details.push_back({ "issuer", info.Issuer });
    if (!info.NotBefore.empty() || !info.NotAfter.empty())
        details.push_back({ "valid",
            "from " + (info.NotBefore.empty() ? "?" : info.NotBefore) + " to "
                + (info.NotAfter.empty() ? "?" : info.NotAfter) });
    if (const std::string fingerprint = ColonFingerprint(info.Fingerprint); !fingerprint.empty())
        details.push_back({ "SHA-256 fingerprint", fingerprint });
    return details;
}

// ---- Recognising TLS ----

bool LooksLikeTlsRecord(std::string_view bytes)
{
    // A record header: content type handshake (22) or alert (21), then the
    // protocol version 3.x (SSL 3.0 up to TLS 1.3 on the record layer).
    if (bytes.size() < 2)
        return false;
    const auto type = static_cast<unsigned char>(bytes[0]);
    if ((type != 0x16 && type != 0x15) || static_cast<unsigned char>(bytes[1]) != 0x03)
        return false;
    return bytes.size() < 3 || static_cast<unsigned char>(bytes[2]) <= 0x04;
}

std::string TlsClientHello(const std::string& host)
{
    // The handshake runs against memory buffers: the message is taken out
    // whole, and nothing of the server's answer can end up inside OpenSSL.
    const TTlsContext context(host, {});
    SSL* ssl = SSL_new(context.Get());
    if (ssl == nullptr)
        return {};
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (in == nullptr || out == nullptr) {
        BIO_free(in);
        BIO_free(out);
        SSL_free(ssl);
        return {};
    }
    SSL_set_bio(ssl, in, out); // owned by ssl from here
    if (!host.empty() && !IsAddress(host))
        SSL_set_tlsext_host_name(ssl, host.c_str());
    ERR_clear_error();
    SSL_connect(ssl); // wants to read: the ClientHello is in `out`
    char* data = nullptr;
    const long size = BIO_get_mem_data(out, &data);
    std::string hello(data, static_cast<std::size_t>(size > 0 ? size : 0));
    SSL_free(ssl);
    ERR_clear_error();
    return hello;
}

// ---- Context ----

TTlsContext::TTlsContext(std::string host, std::string trustedFingerprint)
    : host_(std::move(host))
    , trusted_(NormalizeFingerprint(trustedFingerprint))
{
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr)
        throw ETlsError("TLS is not available: " + OpenSslReason() + ".");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The system's trusted certificates (SSL_CERT_FILE and SSL_CERT_DIR
    // replace them, as everywhere with OpenSSL).
    SSL_CTX_set_default_verify_paths(ctx_);
    // The handshake completes whatever the verdict; RequireTrusted decides
    // before anything is sent over the session.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Several records per system call instead of two calls per record. A read
    // reports "want read" only once the socket itself had nothing more, so the
    // pumped waits never sleep on data already taken in.
    SSL_CTX_set_read_ahead(ctx_, 1);
    SSL_CTX_set_default_read_buffer_len(ctx_, 64 * 1024);
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
}

TTlsContext::~TTlsContext()
{
    SSL_SESSION_free(session_);
    SSL_CTX_free(ctx_);
}

void TTlsContext::KeepSession(SSL* ssl) const
{
    SSL_SESSION* session = SSL_get1_session(ssl);
    if (session == nullptr)
        return;
    if (!SSL_SESSION_is_resumable(session)) {
        SSL_SESSION_free(session);
        return;
    }
    SSL_SESSION_free(session_);
    session_ = session;
}

SSL_SESSION* TTlsContext::TakeSession() const
{
    SSL_SESSION* session = session_;
    session_ = nullptr;
    return session;
}

// ---- Channel ----

TTlsChannel::TTlsChannel(const TTlsContext& context, int fd, const TTlsChannel* resume)
    : context_(context)
{
    ssl_ = SSL_new(context.Get());
    if (ssl_ == nullptr)
        throw ETlsError("TLS is not available: " + OpenSslReason() + ".");
    SSL_set_fd(ssl_, fd);
    const std::string& host = context.Host();
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
    if (IsAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
        SSL_set_tlsext_host_name(ssl_, host.c_str());
    }
    if (resume != nullptr) {
        keepSession_ = true;
        // Servers that insist on it (vsftpd's require_ssl_reuse) accept a data
        // connection only with the control connection's session. With TLS 1.3
        // a ticket serves once: the newest one the server gave, on the control
        // connection or on the last data connection, is used.
        SSL_SESSION* session = context.TakeSession();
        if (session == nullptr)
            session = SSL_get1_session(resume->ssl_);
        if (session != nullptr) {
            SSL_set_session(ssl_, session);
            SSL_SESSION_free(session);
        }
    }
}

TTlsChannel::~TTlsChannel()
{
    SSL_free(ssl_);
}

void TTlsChannel::StartHandshake()
{
    TSigpipeScope quiet;
    ERR_clear_error();
    const int result = SSL_connect(ssl_);
    if (result == 1) {
        Examine();
        return;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
        throw ETlsError("TLS handshake failed: " + OpenSslReason() + ".");
}

void TTlsChannel::Handshake(
    net::Deadline deadline, const net::Pumper& pumper, const std::function<bool()>& stopped)
{
    for (;;) {
        int result;
        {
            TSigpipeScope quiet;
            ERR_clear_error();
            result = SSL_connect(ssl_);
        }
        if (result == 1)
            break;
        const int error = SSL_get_error(ssl_, result);
        short events = 0;
        if (error == SSL_ERROR_WANT_READ)
            events = POLLIN;
        else if (error == SSL_ERROR_WANT_WRITE)
            events = POLLOUT;
        else
            throw ETlsError("TLS handshake failed: " + OpenSslReason() + ".");
        switch (net::Wait(SSL_get_fd(ssl_), events, deadline, pumper, stopped)) {
        case net::WaitOutcome::TimedOut:
            throw ETlsError("TLS handshake timed out.");
        case net::WaitOutcome::Stopped:
            throw EConnectionClosed();
        case net::WaitOutcome::Ready:
            break;
        }
    }
    Examine();
}

void TTlsChannel::Examine()
{
    certificate_ = {};
    X509* peer = SSL_get1_peer_certificate(ssl_);
    if (peer == nullptr) {
        certificate_.Verification = "the server sent no certificate";
        return;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    if (X509_digest(peer, EVP_sha256(), digest, &size) == 1)
        certificate_.Fingerprint = Hex(digest, size);
    certificate_.Subject = NameText(X509_get_subject_name(peer));
    certificate_.Issuer = NameText(X509_get_issuer_name(peer));
    certificate_.NotBefore = TimeText(X509_get0_notBefore(peer));
    certificate_.NotAfter = TimeText(X509_get0_notAfter(peer));
    X509_free(peer);
    const long result = SSL_get_verify_result(ssl_);
    certificate_.Verified = result == X509_V_OK;
    certificate_.Verification = VerificationText(result, context_.Host());
    // A fingerprint the user trusted stands in for a chain that does not
    // verify. A server that moved to a certificate the system vouches for is
    // not locked out by it: the new certificate is accepted on its own merits.
    const std::string& trusted = context_.TrustedFingerprint();
    const bool matches = trusted == certificate_.Fingerprint;
    certificate_.Trusted = certificate_.Verified || (!trusted.empty() && matches);
    certificate_.TrustedFingerprintObsolete = !trusted.empty() && !matches && certificate_.Verified;
}

void TTlsChannel::RequireTrusted() const
{
    const auto& info = certificate_;
    if (info.Fingerprint.empty())
        throw ECertificateError("The server sent no certificate.", {});
    if (info.Trusted)
        return;
    if (!context_.TrustedFingerprint().empty()) {
        const std::string reason = "The server's certificate has changed.";
        throw ECertificateError(
            reason + " New SHA-256 fingerprint: " + info.Fingerprint, info.Fingerprint, reason);
    }
    const std::string reason = "The server's certificate is not trusted: " + info.Verification + ".";
    throw ECertificateError(reason + " SHA-256 fingerprint: " + info.Fingerprint, info.Fingerprint, reason);
}

ssize_t TTlsChannel::Finish(int result, bool reading)
{
    const int error = SSL_get_error(ssl_, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        wait_ = POLLIN;
        errno = EAGAIN;
        return -1;
    case SSL_ERROR_WANT_WRITE:
        wait_ = POLLOUT;
        errno = EAGAIN;
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SYSCALL:
        failed_ = true;
        if (errno != 0 && ERR_peek_last_error() == 0)
            return -1; // a socket error: errno tells which
        if (reading) {
            truncated_ = true;
            ERR_clear_error();
            return 0;
        }
        errno = EPIPE;
        return -1;
    default:
        failed_ = true;
        if (reading && IsUnexpectedEof()) {
            // The server closed the socket without close_notify.
            truncated_ = true;
            ERR_clear_error();
            return 0;
        }
        throw ETlsError("TLS error: " + OpenSslReason() + ".");
    }
}

ssize_t TTlsChannel::Read(char* buffer, std::size_t size)
{
    TSigpipeScope quiet;
    ERR_clear_error();
    errno = 0;
    std::size_t read = 0;
    const int result = SSL_read_ex(ssl_, buffer, size, &read);
    if (result == 1)
        return static_cast<ssize_t>(read);
    return Finish(result, true);
}

ssize_t TTlsChannel::Write(const char* data, std::size_t size)
{
    TSigpipeScope quiet;
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    const int result = SSL_write_ex(ssl_, data, size, &written);
    if (result == 1)
        return static_cast<ssize_t>(written);
    return Finish(result, false);
}

bool TTlsChannel::Usable() const noexcept
{
    return !failed_ && SSL_is_init_finished(ssl_) == 1;
}

bool TTlsChannel::Pending() const
{
    return SSL_pending(ssl_) > 0;
}

void TTlsChannel::Shutdown(net::Deadline deadline, const net::Pumper& pumper) noexcept
{
    // After a fatal error OpenSSL must not be asked to shut down.
    if (failed_ || !SSL_is_init_finished(ssl_) || (SSL_get_shutdown(ssl_) & SSL_SENT_SHUTDOWN) != 0)
        return;
    try {
        for (;;) {
            int result;
            {
                TSigpipeScope quiet;
                ERR_clear_error();
                result = SSL_shutdown(ssl_);
            }
            if (result >= 0) {
                // close_notify is out; the peer's answer is not waited for.
                if (keepSession_)
                    context_.KeepSession(ssl_);
                return;
            }
            const int error = SSL_get_error(ssl_, result);
            if (error != SSL_ERROR_WANT_WRITE && error != SSL_ERROR_WANT_READ)
                return;
            if (net::Wait(
                    SSL_get_fd(ssl_), error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN, deadline, pumper)
                != net::WaitOutcome::Ready)
                return;
        }
    } catch (...) {
        // A failing pump must not turn a closing socket into an error.
    }
    ERR_clear_error();
}

// ---- Either way ----

ssize_t ReadSome(int fd, TTlsChannel* tls, char* buffer, std::size_t size, short& waitFor)
{
    if (tls != nullptr) {
        const ssize_t n = tls->Read(buffer, size);
        waitFor = tls->WaitEvents();
        return n;
    }
    waitFor = POLLIN;
    return ::recv(fd, buffer, size, MSG_DONTWAIT);
}

ssize_t WriteSome(int fd, TTlsChannel* tls, const char* data, std::size_t size, short& waitFor)
{
    if (tls != nullptr) {
        const ssize_t n = tls->Write(data, size);
        waitFor = tls->WaitEvents();
        return n;
    }
    waitFor = POLLOUT;
    return ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace taskhaul::ftp
