#pragma once

// FTP over TLS as the client's caller sees it: the security mode, what the
// client learnt of the server's certificate, and the errors of the TLS layer.

#include "ftp/ftp_errors.h"

#include <string>
#include <vector>

namespace taskhaul::ftp {

// tlsPlain: no TLS (the default). tlsExplicit: "AUTH TLS" after the greeting,
// then the handshake, the login, "PBSZ 0" and "PROT P" (RFC 4217).
// tlsImplicit: TLS from the first byte (usually port 990).
enum class TFtpSecurity { tlsPlain, tlsExplicit, tlsImplicit };

// The server's certificate as the last TLS connect saw it.
struct TFtpCertificateInfo {
    std::string Subject; // one line, e.g. "CN = ftp.example.com, O = Example"
    std::string Issuer;
    std::string NotBefore; // "2026-01-31 23:59:59 UTC"
    std::string NotAfter;
    std::string Fingerprint; // SHA-256 of the DER form: 64 upper-case hex digits
    // "ok" when the chain and the name verified, otherwise the reason
    // (e.g. "the certificate has expired").
    std::string Verification;
    bool Verified = false; // chain and name verified
    bool Trusted = false; // accepted: verified, or equal to the trusted fingerprint
    // A trusted fingerprint was given, this certificate differs from it and
    // was accepted because it verified: the fingerprint serves no more.
    bool TrustedFingerprintObsolete = false;

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
    // `reason`: the message without the fingerprint (empty: the whole message).
    ECertificateError(const std::string& message, std::string fingerprint, std::string reason = {})
        : ETlsError(message)
        , fingerprint_(std::move(fingerprint))
        , reason_(reason.empty() ? message : std::move(reason))
    {
    }
    const std::string& Fingerprint() const noexcept { return fingerprint_; }
    // Why the certificate is refused, e.g. "The server's certificate is not
    // trusted: the certificate is self-signed."
    const std::string& Reason() const noexcept { return reason_; }

private:
    std::string fingerprint_;
    std::string reason_;
};

// A TLS data connection ended without the server's close_notify: whatever
// the server's final reply says, what arrived may be only a part (a cut
// cable, or a forged TCP FIN), and the transfer fails.
class EUnclosedTransfer : public EFtpException {
public:
    EUnclosedTransfer()
        : EFtpException(Text())
    {
    }
    // The reason on its own, for a listing that was kept in part.
    static const char* Reason() noexcept { return "the data connection ended without a TLS close."; }

private:
    static std::string Text() { return std::string("Transfer incomplete: ") + Reason(); }
};

// Upper-case hex digits of a fingerprint written with or without ":" or
// blanks, in either case; empty when the text is not 64 hex digits.
std::string NormalizeFingerprint(const std::string& text);

// A fingerprint in the form users compare: pairs of upper-case hex digits
// joined by ":" ("AB:CD:..."); empty when the text is not a fingerprint.
std::string ColonFingerprint(const std::string& fingerprint);

// What a user checks before trusting a certificate, as labelled lines:
// "subject", "issuer", "valid" ("from ... to ...") and "SHA-256 fingerprint"
// (colon-separated). Values that are unknown are left out.
struct TCertificateDetail {
    std::string Label;
    std::string Value;
};
std::vector<TCertificateDetail> CertificateDetails(const TFtpCertificateInfo& info);

} // namespace taskhaul::ftp
