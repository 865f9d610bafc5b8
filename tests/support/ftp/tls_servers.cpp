#include "ftp/tls_servers.h"
#include "ftp/loopback.h"
#include "ftp/spawn.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kVsftpd = "/usr/sbin/vsftpd";

// ---- Certificates made with the OpenSSL API ----

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, CertDeleter>;

Key NewKey()
{
    Key key(EVP_EC_gen("P-256"));
    if (!key)
        throw std::runtime_error("Cannot make a test key.");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (extension == nullptr)
        throw std::runtime_error("Cannot make a certificate extension.");
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `commonName` with the names in `alternativeNames`
// ("IP:127.0.0.1,DNS:localhost"), valid from `fromDays` to `toDays` (relative
// to now), signed by the issuer (or by itself when `issuer` is null).
Cert MakeCertificate(EVP_PKEY* key, const std::string& commonName, const std::string& alternativeNames,
    long fromDays, long toDays, X509* issuer, EVP_PKEY* issuerKey, bool ca, long serial)
{
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), toDays * 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(
        name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Taskhaul tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509* signer = issuer ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    if (ca) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    }
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (!alternativeNames.empty())
        AddExtension(cert.get(), signer, NID_subject_alt_name, alternativeNames.c_str());
    if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0)
        throw std::runtime_error("Cannot sign a test certificate.");
    return cert;
}

CertificateFiles Save(const std::string& folder, const std::string& name, X509* cert, EVP_PKEY* key)
{
    CertificateFiles files { folder + "/" + name + ".crt", folder + "/" + name + ".key",
        folder + "/" + name + ".pem" };
    const auto write = [](const std::string& path, X509* c, EVP_PKEY* k) {
        FILE* out = std::fopen(path.c_str(), "w");
        if (out == nullptr)
            throw std::runtime_error("Cannot write " + path);
        if (c)
            PEM_write_X509(out, c);
        if (k)
            PEM_write_PrivateKey(out, k, nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(out);
    };
    write(files.certificate, cert, nullptr);
    write(files.key, nullptr, key);
    write(files.combined, cert, key);
    return files;
}

// ---- Processes ----

int RunQuietly(const std::vector<std::string>& arguments)
{
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int pid = Spawn(arguments, devNull);
    ::close(devNull);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---- Scripts ----

constexpr const char* kPyftpdTlsScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import TLS_FTPHandler
from pyftpdlib.servers import FTPServer

root, cert, key, host = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user("taskhaul", "s3cret", root, perm="elr")
class Handler(TLS_FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.certfile = cert
Handler.keyfile = key
Handler.tls_control_required = True
Handler.tls_data_required = True
Handler.banner = "pyftpdlib TLS ready."
server = FTPServer((host, 0), Handler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
)PY";

constexpr const char* kFaultScript = R"PY(
import socket, ssl, sys, threading, time
cert, key, fault, logpath = sys.argv[1:5]
ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
ctx.load_cert_chain(cert, key)
content = bytes(range(256)) * 256
listing = (b"-rw-r--r--    1 ftp      ftp         65536 Mar 01  2024 big.bin\r\n"
           b"-rw-r--r--    1 ftp      ftp         65536 Mar 01  2024 second.bin\r\n")
# No SIZE, and no size in the 150 reply: only the data connection's end tells.
sizeless = fault in ("cut", "clean")
log = open(logpath, "a", buffering=1)

def send_data(secured, payload):
    if fault == "cut":
        # Part of it (a listing: its first line and the next up to "sec" of
        # its name), then the socket closes without close_notify.
        if payload is listing:
            secured.sendall(listing[: listing.index(b"\n") + 1 + 59])
        else:
            secured.sendall(payload[: len(payload) // 2])
        secured.close()
    elif fault == "clean":
        secured.sendall(payload)
        try:
            secured.unwrap().close()
        except OSError:
            secured.close()
    else:
        secured.sendall(payload[: len(payload) // 2])
        # Closed without close_notify.
        secured.close()

def serve(conn):
    try:
        session(conn)
    except (OSError, ValueError):
        pass

def session(conn):
    conn.settimeout(30)
    chan = conn
    if fault == "implicit":
        # TLS from the first byte: nothing is said before a ClientHello.
        chan = ctx.wrap_socket(conn, server_side=True)
    reader = chan.makefile("rb")
    def send(text):
        chan.sendall(text.encode())
    send("220 Fault server ready.\r\n")
    listener = None
    while True:
        line = reader.readline()
        if not line:
            return
        command = line.decode("latin-1").strip()
        log.write(command + "\n")
        verb = command.split(" ")[0].upper()
        if verb == "AUTH":
            send("234 Proceed with negotiation.\r\n")
            if fault == "clear-after-auth":
                send("220 Still in clear text.\r\n")
                time.sleep(10)
                return
            if fault == "stall-handshake":
                time.sleep(30)
                return
            chan = ctx.wrap_socket(conn, server_side=True)
            reader = chan.makefile("rb")
        elif verb == "USER":
            send("331 Password please.\r\n")
        elif verb == "PASS":
            send("230 Logged in.\r\n")
        elif verb == "SYST":
            send("215 UNIX Type: L8\r\n")
        elif verb == "FEAT":
            send("211 No features.\r\n")
        elif verb == "SIZE":
            if sizeless:
                send("550 SIZE not allowed.\r\n")
            else:
                send("213 %d\r\n" % len(content))
        elif verb == "PASV":
            listener = socket.socket()
            listener.bind(("127.0.0.1", 0))
            listener.listen(1)
            port = listener.getsockname()[1]
            send("227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n" % (port // 256, port % 256))
        elif verb == "RETR":
            if sizeless:
                send("150 Opening BINARY mode data connection.\r\n")
            else:
                send("150 Opening BINARY mode data connection (%d bytes).\r\n" % len(content))
            data, _ = listener.accept()
            if fault == "data-stall":
                time.sleep(10)
                data.close()
                send("226 Transfer complete.\r\n")
                continue
            send_data(ctx.wrap_socket(data, server_side=True), content)
            send("226 Transfer complete.\r\n")
        elif verb == "LIST":
            send("150 Here comes the listing.\r\n")
            data, _ = listener.accept()
            send_data(ctx.wrap_socket(data, server_side=True), listing)
            send("226 Transfer complete.\r\n")
        else:
            send("200 OK.\r\n")

server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(8)
print(server.getsockname()[1], flush=True)
while True:
    conn, _ = server.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
)PY";

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw std::runtime_error("Cannot write " + path);
}

} // namespace

// ---- TestCertificates ----

TestCertificates::TestCertificates()
{
    std::string pattern = (fs::temp_directory_path() / "taskhaul-certs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    ::chmod(folder_.c_str(), 0755); // vsftpd reads them as root, pyftpdlib as the test user

    const Key caKey = NewKey();
    const Cert ca = MakeCertificate(caKey.get(), "Taskhaul test CA", "", -1, 30, nullptr, nullptr, true, 1);
    ca_ = Save(folder_, "ca", ca.get(), caKey.get());

    const std::string local = "IP:127.0.0.1,IP:::1,DNS:localhost";
    const Key serverKey = NewKey();
    server_ = Save(folder_, "server",
        MakeCertificate(serverKey.get(), "localhost", local, -1, 30, ca.get(), caKey.get(), false, 2).get(),
        serverKey.get());
    const Key wrongKey = NewKey();
    wrongName_ = Save(folder_, "wrong-name",
        MakeCertificate(
            wrongKey.get(), "other.example", "DNS:other.example", -1, 30, ca.get(), caKey.get(), false, 3)
            .get(),
        wrongKey.get());
    const Key expiredKey = NewKey();
    expired_ = Save(folder_, "expired",
        MakeCertificate(expiredKey.get(), "localhost", local, -30, -1, ca.get(), caKey.get(), false, 4).get(),
        expiredKey.get());
    const Key selfKey = NewKey();
    selfSigned_ = Save(folder_, "self-signed",
        MakeCertificate(selfKey.get(), "localhost", local, -1, 30, nullptr, nullptr, false, 5).get(),
        selfKey.get());
}

TestCertificates::~TestCertificates()
{
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

std::string TestCertificates::Fingerprint(const std::string& certificateFile)
{
    FILE* in = std::fopen(certificateFile.c_str(), "r");
    if (in == nullptr)
        throw std::runtime_error("Cannot read " + certificateFile);
    const Cert cert(PEM_read_X509(in, nullptr, nullptr, nullptr));
    std::fclose(in);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    X509_digest(cert.get(), EVP_sha256(), digest, &size);
    std::string text;
    char hex[3];
    for (unsigned i = 0; i < size; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", digest[i]);
        text += hex;
    }
    return text;
}

std::string TestCertificates::ColonFingerprint(const std::string& certificateFile)
{
    const std::string digits = Fingerprint(certificateFile);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        text += (i > 0 ? ":" : "") + digits.substr(i, 2);
    return text;
}

// ---- TrustTestCa ----

TrustTestCa::TrustTestCa(const TestCertificates& certs)
{
    if (const char* old = std::getenv("SSL_CERT_FILE"))
        previous_ = old;
    ::setenv("SSL_CERT_FILE", certs.CaFile().c_str(), 1);
}

TrustTestCa::~TrustTestCa()
{
    if (previous_)
        ::setenv("SSL_CERT_FILE", previous_->c_str(), 1);
    else
        ::unsetenv("SSL_CERT_FILE");
}

// ---- ScratchFolder ----

ScratchFolder::ScratchFolder(const std::string& prefix)
{
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchFolder::WriteFile(const std::string& relative, const std::string& content) const
{
    const fs::path path = fs::path(path_) / relative;
    fs::create_directories(path.parent_path());
    WriteText(path.string(), content);
    ::chmod(path.c_str(), 0644);
}

// ---- Servers ----

void RequirePyftpdlibTls()
{
    if (::access(kPython, X_OK) != 0
        || RunQuietly({ kPython, "-c", "import pyftpdlib.handlers as h; h.TLS_FTPHandler" }) != 0)
        throw std::runtime_error("pyftpdlib's TLS_FTPHandler is not available to /usr/bin/python3: install "
                                 "Debian's python3-pyftpdlib and python3-openssl (scripts/setup.sh).");
}

TlsPyFtpdServer::TlsPyFtpdServer(const CertificateFiles& certificate, const std::string& host)
    : host_(host)
    , root_(scratch_.Path() + "/root")
{
    RequirePyftpdlibTls();
    fs::create_directory(root_);
    scratch_.WriteFile("server.py", kPyftpdTlsScript);
    port_ = process_.Start(
        kPython, { scratch_.Path() + "/server.py", root_, certificate.certificate, certificate.key, host });
}

void TlsPyFtpdServer::writeFile(const std::string& name, const std::string& content) const
{
    scratch_.WriteFile("root/" + name, content);
}

std::string VsftpdServer::Unavailable()
{
    if (::access(kVsftpd, X_OK) != 0)
        return "vsftpd is not installed (Debian package vsftpd, scripts/setup.sh).";
    if (::geteuid() != 0)
        return "vsftpd must be started as root (it changes to the ftp user itself).";
    return {};
}

VsftpdServer::VsftpdServer(const CertificateFiles& certificate, Mode mode)
    : root_(scratch_.Path() + "/root")
{
    if (const auto why = Unavailable(); !why.empty())
        throw std::runtime_error(why);
    fs::create_directory(root_);
    ::chmod(root_.c_str(), 0755);
    fs::create_directory(scratch_.Path() + "/empty");
    ::chmod((scratch_.Path() + "/empty").c_str(), 0755);
    port_ = ClosedLoopbackPort();
    std::ostringstream config;
    config << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << port_
           << "\nbackground=NO\n"
              "anonymous_enable=YES\nno_anon_password=YES\nanon_root="
           << root_
           << "\nlocal_enable=NO\nwrite_enable=NO\n"
              "secure_chroot_dir="
           << scratch_.Path()
           << "/empty\n"
              "seccomp_sandbox=NO\nisolate=NO\nisolate_network=NO\n"
              "xferlog_enable=NO\ndual_log_enable=NO\nvsftpd_log_file="
           << scratch_.Path()
           << "/vsftpd.log\n"
              "pasv_enable=YES\nport_enable=YES\nconnect_from_port_20=NO\n"
              "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
              "require_ssl_reuse=YES\nssl_ciphers=HIGH\nssl_tlsv1=YES\nssl_sslv2=NO\nssl_sslv3=NO\n"
              "rsa_cert_file="
           << certificate.certificate << "\nrsa_private_key_file=" << certificate.key << "\n"
           << (mode == Mode::Implicit ? "implicit_ssl=YES\n" : "");
    const std::string configPath = scratch_.Path() + "/vsftpd.conf";
    WriteText(configPath, config.str());
    ::chmod(configPath.c_str(), 0600);
    // vsftpd prints nothing; the port it was given is known, and it is ready
    // once it accepts.
    const std::string helper = scratch_.Path() + "/start.sh";
    WriteText(
        helper, "#!/bin/sh\necho " + std::to_string(port_) + "\nexec " + kVsftpd + " " + configPath + "\n");
    ::chmod(helper.c_str(), 0700);
    process_.Start("/bin/sh", { helper });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!LoopbackAccepts(port_)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("vsftpd did not start listening on port " + std::to_string(port_) + ".");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void VsftpdServer::writeFile(const std::string& name, const std::string& content) const
{
    scratch_.WriteFile("root/" + name, content);
}

TlsFaultServer::TlsFaultServer(const CertificateFiles& certificate, const std::string& fault)
{
    if (::access(kPython, X_OK) != 0)
        throw std::runtime_error("/usr/bin/python3 is missing (scripts/setup.sh installs it).");
    scratch_.WriteFile("fault.py", kFaultScript);
    port_ = process_.Start(kPython,
        { scratch_.Path() + "/fault.py", certificate.certificate, certificate.key, fault,
            scratch_.Path() + "/commands.log" });
}

std::string TlsFaultServer::Content()
{
    std::string content;
    for (int round = 0; round < 256; ++round)
        for (int byte = 0; byte < 256; ++byte)
            content += static_cast<char>(byte);
    return content;
}

std::vector<std::string> TlsFaultServer::Listing()
{
    return { "-rw-r--r--    1 ftp      ftp         65536 Mar 01  2024 big.bin",
        "-rw-r--r--    1 ftp      ftp         65536 Mar 01  2024 second.bin" };
}

std::string TlsFaultServer::CommandLog() const
{
    std::ifstream in(scratch_.Path() + "/commands.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace taskhaul::test
