// FTP over TLS against real servers (pyftpdlib's TLS handler, vsftpd) and a
// small server that misbehaves on purpose; certificates made by the test.

#include "client_fixture.h"

#include "ftp/ftp_data.h"
#include "ftp/loopback.h"
#include "ftp/tls_servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::ftp::testing {
namespace {

using test::TestCertificates;
using test::TrustTestCa;

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// The longest time between two calls of the pump, counted from the first call
// after Reset (the test's own work between operations does not count).
struct PumpWatch {
    std::optional<std::chrono::steady_clock::time_point> last;
    std::chrono::milliseconds longest { 0 };
    void operator()()
    {
        const auto now = std::chrono::steady_clock::now();
        if (last)
            longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(now - *last));
        last = now;
    }
    void Reset() { last.reset(); }
};

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certs = new TestCertificates; }
    static void TearDownTestSuite()
    {
        delete certs;
        certs = nullptr;
    }

    void Aim(const std::string& host, int port, const std::string& user, const std::string& password,
        TFtpSecurity security)
    {
        client.SetHost(host);
        client.SetPort(port);
        client.SetUsername(user);
        client.SetPassword(password);
        client.SetSecurity(security);
        client.SetLimits(ShortLimits());
    }

    static TestCertificates* certs;
    PumpWatch watch;
    TFtpClient client { [this] { watch(); } };
};

TestCertificates* TlsTest::certs = nullptr;

// ---- pyftpdlib: explicit TLS, passive and active, IPv4 and IPv6 ----

struct RoundTrip {
    const char* name;
    const char* host;
    bool passive;
};

class TlsRoundTrip : public TlsTest, public ::testing::WithParamInterface<RoundTrip> { };

TEST_P(TlsRoundTrip, DownloadsEveryByteAndListsOverProtectedData)
{
    const auto& param = GetParam();
    TrustTestCa trust(*certs);
    test::TlsPyFtpdServer server(certs->Server(), param.host);
    const std::string big = RandomBytes(3 * 1024 * 1024 + 17, 7);
    server.writeFile("big.bin", big);
    server.writeFile("small.txt", "hello over TLS\r\n");
    Aim(server.host(), server.port(), server.user(), server.password(), TFtpSecurity::tlsExplicit);
    client.SetPassive(param.passive);
    TempFolder folder;

    watch.Reset();
    ASSERT_NO_THROW(client.Connect());
    const auto& certificate = client.PeerCertificate();
    EXPECT_EQ(certificate.Fingerprint, TestCertificates::Fingerprint(certs->Server().certificate));
    EXPECT_EQ(certificate.Subject, "O = Taskhaul tests, CN = localhost");
    EXPECT_EQ(certificate.Issuer, "O = Taskhaul tests, CN = Taskhaul test CA");
    EXPECT_EQ(certificate.Verification, "ok");
    EXPECT_TRUE(certificate.Verified && certificate.Trusted);
    EXPECT_EQ(certificate.NotAfter.size(), std::string("2027-01-31 23:59:59 UTC").size());
    EXPECT_LT(certificate.NotBefore, certificate.NotAfter);
    EXPECT_EQ(certificate.NotBefore.size(), certificate.NotAfter.size());

    // Twice: every data connection takes up the session again.
    for (int round = 0; round < 2; ++round) {
        watch.Reset();
        ASSERT_NO_THROW(client.RetrieveFile("big.bin", folder.File("big.bin"), true)) << round;
        EXPECT_TRUE(ReadFile(folder.File("big.bin")) == big) << round;
    }
    watch.Reset();
    ASSERT_NO_THROW(client.RetrieveFile("small.txt", folder.File("small.txt"), true));
    EXPECT_EQ(ReadFile(folder.File("small.txt")), "hello over TLS\r\n");
    std::vector<std::string> lines;
    watch.Reset();
    ASSERT_NO_THROW(client.ListFolder(lines));
    EXPECT_EQ(lines.size(), 2u);
    EXPECT_EQ(client.ListingReply().NumericCode, 226);
    EXPECT_LE(watch.longest.count(), 250);
    client.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, TlsRoundTrip,
    ::testing::Values(RoundTrip { "Ipv4Passive", "127.0.0.1", true },
        RoundTrip { "Ipv4Active", "127.0.0.1", false }, RoundTrip { "Ipv6Epsv", "::1", true },
        RoundTrip { "Ipv6Eprt", "::1", false }),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Certificates ----

struct CertificateCase {
    const char* name;
    const test::CertificateFiles& (TestCertificates::*served)() const;
    // The fingerprint of this one is trusted (null: none).
    const test::CertificateFiles& (TestCertificates::*trusted)() const;
    const char* reason; // empty: accepted; "changed": the trusted one no longer matches
    // Accepted although the trusted fingerprint is another's: the certificate verified.
    bool trustedObsolete = false;
};

class TlsCertificates : public TlsTest, public ::testing::WithParamInterface<CertificateCase> { };

TEST_P(TlsCertificates, RefusesWithTheReasonAndTheFingerprint)
{
    const auto& param = GetParam();
    TrustTestCa trust(*certs);
    const auto& served = (certs->*param.served)();
    const std::string fingerprint = TestCertificates::Fingerprint(served.certificate);
    test::TlsPyFtpdServer server(served);
    Aim(server.host(), server.port(), server.user(), server.password(), TFtpSecurity::tlsExplicit);
    if (param.trusted)
        client.SetTrustedFingerprint(TestCertificates::Fingerprint((certs->*param.trusted)().certificate));

    const std::string reason = param.reason;
    if (reason.empty()) {
        ASSERT_NO_THROW(client.Connect());
        EXPECT_TRUE(client.PeerCertificate().Trusted);
        EXPECT_EQ(client.PeerCertificate().TrustedFingerprintObsolete, param.trustedObsolete);
        return;
    }
    try {
        client.Connect();
        FAIL() << "connected";
    } catch (const ECertificateError& error) {
        const bool changed = reason == "changed";
        const std::string why = changed ? "The server's certificate has changed."
                                        : "The server's certificate is not trusted: " + reason + ".";
        EXPECT_EQ(error.what(), why + (changed ? " New" : "") + " SHA-256 fingerprint: " + fingerprint);
        EXPECT_EQ(error.Reason(), why);
        EXPECT_EQ(error.Fingerprint(), fingerprint);
    }
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(client.PeerCertificate().Fingerprint, fingerprint);
}

INSTANTIATE_TEST_SUITE_P(Cases, TlsCertificates,
    ::testing::Values(CertificateCase { "SelfSigned", &TestCertificates::SelfSigned, nullptr,
                          "the certificate is self-signed" },
        CertificateCase {
            "WrongName", &TestCertificates::WrongName, nullptr, "the certificate is not for 127.0.0.1" },
        CertificateCase { "Expired", &TestCertificates::Expired, nullptr, "the certificate has expired" },
        CertificateCase {
            "TrustedSelfSigned", &TestCertificates::SelfSigned, &TestCertificates::SelfSigned, "" },
        CertificateCase {
            "TrustedButChanged", &TestCertificates::Expired, &TestCertificates::SelfSigned, "changed" },
        CertificateCase { "TrustedButChangedToTheWrongName", &TestCertificates::WrongName,
            &TestCertificates::SelfSigned, "changed" },
        // A server that moved from its own certificate to one the system
        // vouches for is not locked out by the old fingerprint.
        CertificateCase { "TrustedButNowSignedByATrustedAuthority", &TestCertificates::Server,
            &TestCertificates::SelfSigned, "", true },
        CertificateCase { "TrustedAndSignedByATrustedAuthority", &TestCertificates::Server,
            &TestCertificates::Server, "" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TlsTest, NoUserNameOrPasswordLeavesBeforeTheCertificateIsAccepted)
{
    // No CA trusted here: the server's certificate does not verify.
    test::TlsFaultServer server(certs->Server(), "none");
    Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
    EXPECT_THROW(client.Connect(), ECertificateError);
    EXPECT_EQ(server.CommandLog(), "AUTH TLS\n");
}

TEST_F(TlsTest, ExplicitSequenceAfterTheHandshake)
{
    test::TlsFaultServer server(certs->Server(), "none");
    Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
    client.SetTrustedFingerprint(TestCertificates::Fingerprint(certs->Server().certificate));
    ASSERT_NO_THROW(client.Connect());
    client.Disconnect();
    EXPECT_EQ(server.CommandLog(), "AUTH TLS\nUSER alice\nPASS wonder\nFEAT\nTYPE I\nPBSZ 0\nPROT P\nSYST\n");
}

// Through a proxy, TLS is with the proxy: its certificate must name the proxy
// host, and every scheme's sign-on (both passwords included) goes inside TLS.
TEST_F(TlsTest, EveryProxySchemeSignsOnInsideTlsWithTheProxy)
{
    TrustTestCa trust(*certs);
    for (const auto type : { TFtpProxyType::fpcmUserSite, TFtpProxyType::fpcmSite, TFtpProxyType::fpcmOpen,
             TFtpProxyType::fpcmUserPass, TFtpProxyType::fpcmTransparent }) {
        test::TlsFaultServer proxy(certs->Server(), "none");
        Aim("ftp.example.org", 21, "alice", "wonder", TFtpSecurity::tlsExplicit);
        client.ProxySettings() = TFtpProxySettings { type, proxy.host(), proxy.port(), "puser", "ppass" };
        ASSERT_NO_THROW(client.Connect()) << static_cast<int>(type);
        client.Disconnect();
        const std::string log = proxy.CommandLog();
        EXPECT_EQ(log.rfind("AUTH TLS\nUSER ", 0), 0u) << log;
        EXPECT_TRUE(log.ends_with("PBSZ 0\nPROT P\nSYST\n")) << log;
    }
}

// ---- Faults ----

TEST_F(TlsTest, RefusedAuthTlsFailsWithoutClearTextLogin)
{
    test::ScriptedFtpServer server;
    server.reply("AUTH", "530 TLS not available.\r\n");
    Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "The server refused TLS: 530 TLS not available.");
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(server.commands(), Commands { "AUTH TLS" });
}

TEST_F(TlsTest, HandshakeFaultsOnTheControlConnection)
{
    struct Case {
        const char* fault;
        const char* message;
    };
    for (const Case& c : { Case { "stall-handshake", "TLS handshake timed out." },
             Case { "clear-after-auth",
                 "TLS handshake failed: the server sent clear text after agreeing to TLS." } }) {
        test::TlsFaultServer server(certs->Server(), c.fault);
        Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
        // The server still holds the connection: closing it is announced.
        int disconnected = 0;
        client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
        const auto start = std::chrono::steady_clock::now();
        watch.Reset();
        const std::string error = ErrorOf([&] { client.Connect(); });
        const auto took = std::chrono::steady_clock::now() - start;
        // Clear text may arrive with the 234 or just after it.
        if (std::string(c.fault) == "clear-after-auth")
            EXPECT_EQ(error.rfind("TLS handshake failed: the server", 0), 0u) << error;
        else
            EXPECT_EQ(error, c.message);
        EXPECT_LT(took, ShortLimits().ReplyTimeout + 1500ms) << c.fault;
        EXPECT_FALSE(client.IsConnected());
        EXPECT_EQ(disconnected, 1) << c.fault;
        EXPECT_EQ(server.CommandLog(), "AUTH TLS\n") << c.fault;
    }
    EXPECT_LE(watch.longest.count(), 250);
}

TEST_F(TlsTest, StopDuringAStalledHandshakeEndsTheConnectAtOnce)
{
    test::TlsFaultServer server(certs->Server(), "stall-handshake");
    // Some pump intervals after AUTH TLS arrived: the 234 is read by then and
    // the client waits for the ServerHello.
    int waitsAfterAuth = 0;
    TFtpClient stoppable { [&] {
        if (server.CommandLog() == "AUTH TLS\n" && ++waitsAfterAuth == 4)
            stoppable.AbortTransfer();
    } };
    stoppable.SetHost(server.host());
    stoppable.SetPort(server.port());
    stoppable.SetSecurity(TFtpSecurity::tlsExplicit);
    stoppable.SetLimits(ShortLimits());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(stoppable.Connect(), EOperationAborted);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_FALSE(stoppable.IsConnected());
}

TEST_F(TlsTest, ImplicitServerThatNeverSpeaksTlsTimesOut)
{
    // A port that takes connections (through the listen backlog) and never
    // answers: no ServerHello will come.
    const SilentListener listener;
    Aim("127.0.0.1", listener.port(), "alice", "wonder", TFtpSecurity::tlsImplicit);
    auto limits = ShortLimits();
    limits.ReplyTimeout = 800ms;
    client.SetLimits(limits);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "TLS handshake timed out.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_LE(watch.longest.count(), 250);
}

TEST_F(TlsTest, DataFaults)
{
    struct Case {
        const char* fault;
        std::string message;
    };
    for (const Case& c : { Case { "data-stall", "TLS handshake timed out." },
             Case { "truncate", EIncompleteTransfer(65536, 32768).what() } }) {
        test::TlsFaultServer server(certs->Server(), c.fault);
        Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
        client.SetTrustedFingerprint(TestCertificates::Fingerprint(certs->Server().certificate));
        client.SetPassive(true);
        auto limits = ShortLimits();
        limits.DataIdleTimeout = 1000ms;
        client.SetLimits(limits);
        TempFolder folder;
        ASSERT_NO_THROW(client.Connect()) << c.fault;
        const auto start = std::chrono::steady_clock::now();
        watch.Reset();
        EXPECT_EQ(ErrorOf([&] { client.RetrieveFile("big.bin", folder.File("big.bin"), false); }), c.message)
            << c.fault;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 4s) << c.fault;
        EXPECT_TRUE(folder.Entries().empty()) << c.fault; // nothing half-written left behind
        client.Disconnect();
    }
    EXPECT_LE(watch.longest.count(), 250);
}

// Without close_notify the end of a TLS data connection proves nothing: a cut
// cable or a forged TCP FIN looks the same, and the server still says 226.
TEST_F(TlsTest, ADataConnectionIsCompleteOnlyWithATlsClose)
{
    const std::string unclosed = "the data connection ended without a TLS close.";
    for (const bool clean : { false, true }) {
        const char* fault = clean ? "clean" : "cut";
        test::TlsFaultServer server(certs->Server(), fault);
        Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
        client.SetTrustedFingerprint(TestCertificates::Fingerprint(certs->Server().certificate));
        client.SetPassive(true);
        TempFolder folder;
        WriteFile(folder.File("big.bin"), "older copy");
        ASSERT_NO_THROW(client.Connect()) << fault;
        EXPECT_EQ(client.FileSize("big.bin"), -1) << fault;

        const std::string error
            = ErrorOf([&] { client.RetrieveFile("big.bin", folder.File("big.bin"), true); });
        std::vector<std::string> lines;
        ASSERT_NO_THROW(client.ListFolder(lines)) << fault; // the connection is still in step
        const std::vector<std::string> listing = test::TlsFaultServer::Listing();
        if (clean) {
            EXPECT_EQ(error, "") << fault;
            EXPECT_TRUE(ReadFile(folder.File("big.bin")) == test::TlsFaultServer::Content());
            EXPECT_EQ(lines, listing);
            EXPECT_FALSE(client.ListingTruncated());
            EXPECT_EQ(client.ListingTruncation(), "");
        } else {
            EXPECT_EQ(error, "Transfer incomplete: " + unclosed);
            EXPECT_TRUE(ReadFile(folder.File("big.bin")) == "older copy");
            EXPECT_EQ(folder.Entries(), std::vector<std::string> { "big.bin" }); // no temporary left
            // The line the cut went through ("... second.bin" shortened) is no entry.
            EXPECT_EQ(lines, std::vector<std::string> { listing.front() });
            EXPECT_TRUE(client.ListingTruncated());
            EXPECT_EQ(client.ListingTruncation(), unclosed);
            EXPECT_EQ(client.ListingReply().NumericCode, 226);
        }
        client.Disconnect();
    }
}

// A server that speaks TLS from the first byte sends no greeting: explicit TLS
// waits for one in vain, and the timeout says why.
TEST_F(TlsTest, ExplicitTlsOnAnImplicitTlsPortSaysSo)
{
    auto limits = ShortLimits();
    limits.ReplyTimeout = 800ms;
    {
        test::TlsFaultServer server(certs->Server(), "implicit");
        Aim(server.host(), server.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
        client.SetLimits(limits);
        watch.Reset();
        EXPECT_EQ(ErrorOf([&] { client.Connect(); }),
            "Read Timeout. The server seems to expect implicit TLS on this port.");
        EXPECT_FALSE(client.IsConnected());
        EXPECT_EQ(server.CommandLog(), "");
    }
    // A server that says nothing at all is only slow.
    const SilentListener silent;
    Aim("127.0.0.1", silent.port(), "alice", "wonder", TFtpSecurity::tlsExplicit);
    client.SetLimits(limits);
    EXPECT_EQ(ErrorOf([&] { client.Connect(); }), "Read Timeout");
    EXPECT_LE(watch.longest.count(), 250);
}

// ---- vsftpd: session reuse required, explicit and implicit ----

struct VsftpdCase {
    const char* name;
    test::VsftpdServer::Mode mode;
    bool passive;
};

class TlsVsftpd : public TlsTest, public ::testing::WithParamInterface<VsftpdCase> { };

TEST_P(TlsVsftpd, DownloadsWithTheControlSessionReused)
{
    if (const auto why = test::VsftpdServer::Unavailable(); !why.empty())
        GTEST_SKIP() << why;
    const auto& param = GetParam();
    TrustTestCa trust(*certs);
    test::VsftpdServer server(certs->Server(), param.mode);
    const std::string content = RandomBytes(1024 * 1024 + 3, 11);
    server.writeFile("file.bin", content);
    Aim(server.host(), server.port(), "anonymous", "guest@",
        param.mode == test::VsftpdServer::Mode::Implicit ? TFtpSecurity::tlsImplicit
                                                         : TFtpSecurity::tlsExplicit);
    client.SetPassive(param.passive);
    TempFolder folder;
    ASSERT_NO_THROW(client.Connect());
    for (int round = 0; round < 2; ++round) {
        ASSERT_NO_THROW(client.RetrieveFile("file.bin", folder.File("file.bin"), true)) << round;
        EXPECT_TRUE(ReadFile(folder.File("file.bin")) == content);
        EXPECT_EQ(client.LastReply().NumericCode, 226);
    }
    client.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Vsftpd, TlsVsftpd,
    ::testing::Values(VsftpdCase { "ExplicitPassive", test::VsftpdServer::Mode::Explicit, true },
        VsftpdCase { "ExplicitActive", test::VsftpdServer::Mode::Explicit, false },
        VsftpdCase { "ImplicitPassive", test::VsftpdServer::Mode::Implicit, true }),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Texts ----

TEST(ExtendedPassiveReply, PortOrRefusal)
{
    EXPECT_EQ(ParseExtendedPassiveReply({ "Entering Extended Passive Mode (|||6446|)" }), 6446);
    EXPECT_EQ(ParseExtendedPassiveReply({ "ok (!!!1!)" }), 1);
    for (const char* bad :
        { "Entering (|||0|)", "(|||65536|)", "(||6446|)", "(|||64a6|)", "no parentheses", "(1116446 1)" })
        EXPECT_THROW(ParseExtendedPassiveReply({ bad }), EConvertError) << bad;
    EXPECT_EQ(ExtendedPortArgument("::1", 5001), "|2|::1|5001|");
    EXPECT_EQ(ExtendedPortArgument("127.0.0.1", 5001), "|1|127.0.0.1|5001|");
}

TEST(Fingerprint, NormalizedOrEmpty)
{
    const std::string hex(64, 'a');
    EXPECT_EQ(NormalizeFingerprint(hex), std::string(64, 'A'));
    std::string colons;
    for (int i = 0; i < 32; ++i)
        colons += (i ? ":" : "") + std::string("Ab");
    EXPECT_EQ(NormalizeFingerprint(colons).substr(0, 4), "ABAB");
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1)), "");
    EXPECT_EQ(NormalizeFingerprint(hex.substr(1) + "g"), "");

    const std::string digits = "0f1e2d3c4b5a69788796a5b4c3d2e1f00f1e2d3c4b5a69788796a5b4c3d2e1f0";
    const std::string colon = ColonFingerprint(digits);
    EXPECT_EQ(colon.size(), 95u);
    EXPECT_EQ(colon.substr(0, 12), "0F:1E:2D:3C:");
    EXPECT_EQ(NormalizeFingerprint(colon), NormalizeFingerprint(digits)); // and back
    EXPECT_EQ(ColonFingerprint("not one"), "");
}

TEST(Fingerprint, DetailsAUserChecksBeforeTrusting)
{
    TFtpCertificateInfo info;
    EXPECT_TRUE(CertificateDetails(info).empty());
    info.Subject = "CN = ftp.example.com";
    info.Issuer = "CN = Example CA";
    info.NotBefore = "2026-01-01 00:00:00 UTC";
    info.NotAfter = "2027-01-01 00:00:00 UTC";
    info.Fingerprint = std::string(62, 'A') + "B1";
    std::vector<std::pair<std::string, std::string>> shown;
    for (const auto& detail : CertificateDetails(info))
        shown.emplace_back(detail.Label, detail.Value);
    const std::vector<std::pair<std::string, std::string>> expected {
        { "subject", "CN = ftp.example.com" },
        { "issuer", "CN = Example CA" },
        { "valid", "from 2026-01-01 00:00:00 UTC to 2027-01-01 00:00:00 UTC" },
        { "SHA-256 fingerprint", ColonFingerprint(info.Fingerprint) },
    };
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(expected.back().second.ends_with(":AA:B1"));
}

} // namespace
} // namespace taskhaul::ftp::testing
