#pragma once

// FTP over TLS as the client's caller sees it: the security mode, what the
// client learnt of the server's certificate, and the errors of the TLS layer.

#include "ftp/ftp_errors.h"

#include <string>

namespace taskhaul::ftp {

// tlsPlain: no TLS (the default). tlsExplicit: "AUTH TLS" after the greeting,
// then the handshake, the login, "PBSZ 0" and "PROT P" (RFC 4217).
// tlsImplicit: TLS from the first byte (usually port 990).
enum class TFtpSecurity { tlsPlain, tlsExplicit, tlsImplicit };

// The server's certificate as the last TLS connect saw it.
struct TFtpCertificateInfo {
    std::string Subject; // one line, e.g. "CN = ftp.example.com, O = Example"
    std::string Issuer;
    std::string NotAfter; // "2027-01-31 23:59:59 UTC"
    std::string Fingerprint; // SHA-256 of the DER form: 64 upper-case hex digits
    // "ok" when the chain and the name verified, otherwise the reason
    // (e.g. "the certificate has expired").
    std::string Verification;
    bool Verified = false; // chain and name verified
    bool Trusted = false; // accepted: verified, or equal to the trusted fingerprint

    bool Empty() const noexcept { return Fingerprint.empty(); }
};

// The TLS layer failed: the handshake (also one that stalls, "TLS handshake
// timed out."), a record that is not TLS, or the server refused AUTH TLS.
// Nothing was sent in clear text after TLS was chosen.
class ETlsError : public EFtpException {
public:
    using EFtpException::EFtpException;
};

// The server's certificate is not accepted. The message gives the reason and
// the certificate's SHA-256 fingerprint; Fingerprint() carries it alone, so
// that a caller can offer to trust it.
class ECertificateError : public ETlsError {
public:
    ECertificateError(const std::string& message, std::string fingerprint)
        : ETlsError(message)
        , fingerprint_(std::move(fingerprint))
    {
    }
    const std::string& Fingerprint() const noexcept { return fingerprint_; }

private:
    std::string fingerprint_;
};

// Upper-case hex digits of a fingerprint written with or without ":" or
// blanks, in either case; empty when the text is not 64 hex digits.
std::string NormalizeFingerprint(const std::string& text);

} // namespace taskhaul::ftp
