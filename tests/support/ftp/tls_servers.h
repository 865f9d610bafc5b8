#pragma once

// Servers and certificates for the FTP-over-TLS tests and benchmark, all made
// by the test in a temporary folder and gone with the object:
//
//   TestCertificates certs;               // a CA and certificates it signed
//   TlsPyFtpdServer server(certs.Server());  // pyftpdlib's TLS_FTPHandler
//   VsftpdServer vsftpd(certs.Server(), VsftpdServer::Mode::Implicit);
//   TlsFaultServer fault(certs.Server(), "truncate");  // one misbehaviour
//
// Each server listens on a free loopback port it chose itself and serves the
// folder root() to the user "taskhaul" / "s3cret" (vsftpd: anonymous).

#include "ftp/spawn.h"

#include <optional>
#include <string>
#include <vector>

namespace taskhaul::test {

// A certificate and its private key, as PEM files.
struct CertificateFiles {
    std::string certificate;
    std::string key;
    std::string combined; // certificate and key in one file
};

class TestCertificates {
public:
    TestCertificates();
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // The CA's certificate: point SSL_CERT_FILE at it to trust what it signed.
    const std::string& CaFile() const { return ca_.certificate; }
    // Signed by the CA for 127.0.0.1, ::1 and localhost, valid now.
    const CertificateFiles& Server() const { return server_; }
    // Signed by the CA for other.example only.
    const CertificateFiles& WrongName() const { return wrongName_; }
    // Signed by the CA for 127.0.0.1, expired yesterday.
    const CertificateFiles& Expired() const { return expired_; }
    // Self-signed for 127.0.0.1.
    const CertificateFiles& SelfSigned() const { return selfSigned_; }

    // SHA-256 of a certificate file's DER form, 64 upper-case hex digits.
    static std::string Fingerprint(const std::string& certificateFile);
    // The same as pairs of digits joined by ":" ("AB:CD:...").
    static std::string ColonFingerprint(const std::string& certificateFile);

private:
    std::string folder_;
    CertificateFiles ca_, server_, wrongName_, expired_, selfSigned_;
};

// Makes OpenSSL trust the test CA (and nothing else) while it lives, by
// pointing SSL_CERT_FILE at it; a program started meanwhile inherits it.
class TrustTestCa {
public:
    explicit TrustTestCa(const TestCertificates& certs);
    ~TrustTestCa();
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;

private:
    std::optional<std::string> previous_;
};

// A temporary folder, removed with the object.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& Path() const { return path_; }
    void WriteFile(const std::string& relative, const std::string& content) const;

private:
    std::string path_;
};

// pyftpdlib with TLS required on control and data connections (explicit TLS).
class TlsPyFtpdServer {
public:
    // `host`: "127.0.0.1" or "::1".
    explicit TlsPyFtpdServer(const CertificateFiles& certificate, const std::string& host = "127.0.0.1");
    std::string host() const { return host_; }
    int port() const { return port_; }
    std::string user() const { return "taskhaul"; }
    std::string password() const { return "s3cret"; }
    const std::string& root() const { return root_; }
    void writeFile(const std::string& name, const std::string& content) const;

private:
    ScratchFolder scratch_ { "taskhaul-tls-pyftpd" };
    std::string host_;
    std::string root_;
    ServerProcess process_;
    int port_ = 0;
};

// Debian's vsftpd as a foreground process with a config of its own:
// anonymous read-only access, TLS required, data sessions must reuse the
// control session (require_ssl_reuse=YES).
class VsftpdServer {
public:
    enum class Mode { Explicit, Implicit };
    VsftpdServer(const CertificateFiles& certificate, Mode mode);
    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    const std::string& root() const { return root_; }
    void writeFile(const std::string& name, const std::string& content) const;
    // Empty when vsftpd can run here; otherwise why not.
    static std::string Unavailable();

private:
    ScratchFolder scratch_ { "taskhaul-vsftpd" };
    std::string root_;
    ServerProcess process_;
    int port_ = 0;
};

// A small FTP server over explicit TLS (Python's ssl module) that misbehaves
// in one way, named by `fault`:
//   "truncate":   RETR announces the file's size, sends half of it and closes
//                 the data socket without close_notify, then answers 226;
//   "cut":        SIZE is refused and RETR names no size; RETR sends half the
//                 file, LIST its first line and the second up to "sec" of
//                 "second.bin", and
//                 both close without close_notify, then answer 226;
//   "clean":      as "cut", but everything is sent and ends with close_notify;
//   "data-stall": RETR answers 150 but never starts TLS on the data connection;
//   "clear-after-auth": AUTH TLS is answered 234, then clear text follows;
//   "stall-handshake":  AUTH TLS is answered 234, then nothing at all;
//   "implicit":   TLS from the first byte (no greeting before a ClientHello).
// Any file name is served as the same 64 KiB (Listing() lists "big.bin" and
// "second.bin"); commands are logged to CommandLog().
class TlsFaultServer {
public:
    TlsFaultServer(const CertificateFiles& certificate, const std::string& fault);
    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    // Every command line the server received, one per line.
    std::string CommandLog() const;
    // What RETR serves, and the lines LIST sends.
    static std::string Content();
    static std::vector<std::string> Listing();

private:
    ScratchFolder scratch_ { "taskhaul-tls-fault" };
    ServerProcess process_;
    int port_ = 0;
};

// Throws std::runtime_error with installation advice unless /usr/bin/python3
// has pyftpdlib and OpenSSL (python3-openssl) for its TLS handler.
void RequirePyftpdlibTls();

} // namespace taskhaul::test
