// Login sequences (direct and through each proxy scheme) and one-time passwords.

#include "client_fixture.h"

#include "ftp/otp.h"

#include <fstream>
#include <sstream>

namespace taskhaul::ftp::testing {
namespace {

struct ProxyCase {
    const char* name;
    TFtpProxyType type;
    std::string proxyUser;
    std::string proxyPassword;
    int targetPort;
    Commands expected; // up to and including the target's PASS
};

class ProxyLogin : public ::testing::TestWithParam<ProxyCase> { };

// The scripted server plays the proxy; the target is a name that is never resolved.
TEST_P(ProxyLogin, SendsTheSchemesCommands)
{
    const auto& c = GetParam();
    test::ScriptedFtpServer proxy;
    TFtpClient client;
    client.SetLimits(ShortLimits());
    client.SetHost("ftp.example.com");
    client.SetPort(c.targetPort);
    client.SetUsername("alice");
    client.SetPassword("wonder");
    client.ProxySettings() = { c.type, proxy.host(), proxy.port(), c.proxyUser, c.proxyPassword };
    ASSERT_NO_THROW(client.Connect());
    EXPECT_EQ(proxy.commands(), Concat(c.expected, { "FEAT", "TYPE I", "SYST" }));
}

INSTANTIATE_TEST_SUITE_P(Schemes, ProxyLogin,
    ::testing::Values(ProxyCase { "UserSite", TFtpProxyType::fpcmUserSite, "pu", "pp", 21,
                          { "USER pu", "PASS pp", "USER alice@ftp.example.com", "PASS wonder" } },
        ProxyCase { "UserSiteNoProxyUser", TFtpProxyType::fpcmUserSite, "", "pp", 2121,
            { "USER alice@ftp.example.com:2121", "PASS wonder" } },
        ProxyCase { "Site", TFtpProxyType::fpcmSite, "pu", "pp", 21,
            { "USER pu", "PASS pp", "SITE ftp.example.com", "USER alice", "PASS wonder" } },
        ProxyCase { "SiteNoProxyUserPort2121", TFtpProxyType::fpcmSite, "", "", 2121,
            { "SITE ftp.example.com:2121", "USER alice", "PASS wonder" } },
        ProxyCase { "Open", TFtpProxyType::fpcmOpen, "pu", "pp", 21,
            { "USER pu", "PASS pp", "OPEN ftp.example.com", "USER alice", "PASS wonder" } },
        ProxyCase { "OpenNoProxyUser", TFtpProxyType::fpcmOpen, "", "pp", 2121,
            { "OPEN ftp.example.com:2121", "USER alice", "PASS wonder" } },
        ProxyCase { "UserPass", TFtpProxyType::fpcmUserPass, "pu", "pp", 21,
            { "USER alice@pu@ftp.example.com", "PASS wonder@pp" } },
        ProxyCase { "UserPassNoProxyPassword", TFtpProxyType::fpcmUserPass, "pu", "", 2121,
            { "USER alice@pu@ftp.example.com:2121", "PASS wonder" } },
        ProxyCase { "UserPassNoProxyUser", TFtpProxyType::fpcmUserPass, "", "", 21,
            { "USER alice@@ftp.example.com", "PASS wonder" } },
        ProxyCase { "Transparent", TFtpProxyType::fpcmTransparent, "pu", "pp", 21,
            { "USER pu", "PASS pp", "USER alice", "PASS wonder" } },
        ProxyCase { "TransparentNoProxyUser", TFtpProxyType::fpcmTransparent, "", "pp", 21,
            { "USER alice", "PASS wonder" } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProxyLoginRules, ProxyUserAcceptedWithout331SkipsItsPassword)
{
    test::ScriptedFtpServer proxy;
    proxy.replySequence("USER", { "230 Proxy user in.\r\n", "331 Password please.\r\n" });
    TFtpClient client;
    client.SetLimits(ShortLimits());
    client.SetHost("ftp.example.com");
    client.SetUsername("alice");
    client.SetPassword("wonder");
    client.ProxySettings() = { TFtpProxyType::fpcmTransparent, proxy.host(), proxy.port(), "pu", "pp" };
    ASSERT_NO_THROW(client.Connect());
    EXPECT_EQ(
        proxy.commands(), (Commands { "USER pu", "USER alice", "PASS wonder", "FEAT", "TYPE I", "SYST" }));
}

TEST(ProxyLoginRules, WithoutProxyHostTheTargetIsUsedWithTheSchemesCommands)
{
    test::ScriptedFtpServer target;
    TFtpClient client;
    AimAt(client, target);
    client.ProxySettings() = { TFtpProxyType::fpcmSite, "", 0, "", "" };
    ASSERT_NO_THROW(client.Connect());
    const auto hostPort = target.host() + ":" + std::to_string(target.port());
    EXPECT_EQ(target.commands(),
        (Commands { "SITE " + hostPort, "USER alice", "PASS wonder", "FEAT", "TYPE I", "SYST" }));
}

// ---- One-time passwords ----

struct Vector {
    otp::Algorithm algorithm;
    std::string passPhrase, seed;
    int count;
    std::uint64_t value;
    std::string words;
};

std::vector<Vector> PublishedVectors()
{
    std::ifstream in(TASKHAUL_TEST_DATA_DIR "/otp/vectors.tsv");
    EXPECT_TRUE(in) << "vectors.tsv missing";
    std::vector<Vector> vectors;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        if (fields.size() != 6)
            continue;
        Vector v;
        v.algorithm = fields[0] == "md4" ? otp::Algorithm::md4
            : fields[0] == "md5"         ? otp::Algorithm::md5
                                         : otp::Algorithm::sha1;
        v.passPhrase = fields[1];
        v.seed = fields[2];
        v.count = std::stoi(fields[3]);
        v.value = std::stoull(fields[4], nullptr, 16);
        v.words = fields[5];
        vectors.push_back(v);
    }
    return vectors;
}

TEST(OneTimePassword, MatchesThePublishedVectors)
{
    const auto vectors = PublishedVectors();
    ASSERT_EQ(vectors.size(), 27u);
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.passPhrase + " " + v.seed + " " + std::to_string(v.count));
        const auto value = otp::Compute(v.algorithm, v.passPhrase, v.seed, v.count);
        EXPECT_EQ(value, v.value);
        EXPECT_EQ(otp::ToSixWords(value), v.words);
    }
}

TEST(OneTimePassword, ChallengeIsFoundOnlyWithAKnownAlgorithm)
{
    const auto md5 = otp::FindChallenge("Response to otp-md5 499 ke1234 ext required");
    ASSERT_TRUE(md5);
    EXPECT_EQ(md5->algorithm, otp::Algorithm::md5);
    EXPECT_EQ(md5->sequence, 499);
    EXPECT_EQ(md5->seed, "ke1234");
    EXPECT_TRUE(otp::FindChallenge("otp-sha1 5 seed"));
    EXPECT_FALSE(otp::FindChallenge("otp-MD5 499 ke1234"));
    EXPECT_FALSE(otp::FindChallenge("otp-sha256 499 ke1234"));
    EXPECT_FALSE(otp::FindChallenge("Password required for alice."));
}

TEST(OneTimePassword, ChallengesOutsideTheRfcBoundsAreRefusedBeforeHashing)
{
    struct Case {
        std::string text;
        bool valid;
    };
    const std::vector<Case> cases {
        { "otp-md5 0 a", true },
        { "otp-md5 9999 ABCdef0123456789", true },
        { "otp-md5 0499 ke1234", true },
        { "otp-md5 10000 ke1234", false },
        { "otp-md5 4000000000 ke1234", false },
        { "otp-md5 2147483647 ke1234", false },
        { "otp-md5 99999999999999999999 ke1234", false },
        { "otp-md5 -1 ke1234", false },
        { "otp-md5 +5 ke1234", false },
        { "otp-md5 x ke1234", false },
        { "otp-sha1 5 ABCdef01234567890", false }, // 17 characters
        { "otp-md4 5 ke-1234", false },
        { "otp-md5 5 k\xe9", false },
        { "otp-md5 499", false },
        { "otp-md5", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        if (c.valid)
            EXPECT_NO_THROW(EXPECT_TRUE(otp::FindChallenge(c.text)));
        else
            EXPECT_EQ(ErrorOf([&] { otp::FindChallenge(c.text); }), "Invalid one-time password challenge.");
    }
    EXPECT_THROW(otp::Compute(otp::Algorithm::md5, "pass", "seed", 10000), EInvalidOtpChallenge);
}

TEST_F(ClientTest, HugeOneTimePasswordSequenceFailsTheConnectAtOnce)
{
    server.reply("USER", "331 Response to otp-md5 4000000000 ke1234 ext required.\r\n");
    int disconnected = 0;
    client.OnDisconnected = [&](TFtpClient&) { ++disconnected; };
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Connect();
        FAIL() << "no error";
    } catch (const EFtpException& error) {
        EXPECT_STREQ(error.what(), "Invalid one-time password challenge.");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    // Neither the pass phrase nor anything made from it went out.
    EXPECT_EQ(server.commands(), (Commands { "USER alice" }));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(disconnected, 1);
}

TEST_F(ClientTest, PasswordChallengeIsAnsweredWithTheOneTimePassword)
{
    // RFC 2289's MD5 vector: "This is a test.", seed "TeSt", count 0.
    server.reply("USER", "331 Response to otp-md5 0 TeSt ext required for alice.\r\n");
    client.SetPassword("This is a test.");
    Connect();
    EXPECT_EQ(server.commands().at(1), "PASS INCH SEA ANNE LONG AHEM TOUR");
}

TEST(ProxyLoginRules, OneTimePasswordIsCombinedWithTheProxyPassword)
{
    test::ScriptedFtpServer proxy;
    proxy.reply("USER", "331 otp-md4 1 alpha1\r\n");
    TFtpClient client;
    client.SetLimits(ShortLimits());
    client.SetHost("ftp.example.com");
    client.SetUsername("alice");
    client.SetPassword("AbCdEfGhIjK");
    client.ProxySettings() = { TFtpProxyType::fpcmUserPass, proxy.host(), proxy.port(), "pu", "pp" };
    ASSERT_NO_THROW(client.Connect());
    // RFC 2289's MD4 vector "AbCdEfGhIjK", seed "alpha1", count 1.
    EXPECT_EQ(proxy.commands().at(1), "PASS CHEW GRIM WU HANG BUCK SAID@pp");
}

} // namespace
} // namespace taskhaul::ftp::testing
