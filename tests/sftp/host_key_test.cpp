#include "sftp/sftp_host_key.h"

#include <gtest/gtest.h>

#include <string>

namespace taskhaul::sftp {
namespace {

using Status = TSftpHostKey::Status;

TEST(HostKeyJudgement, KnownHostsFirstThenTheTrustedKey)
{
    const std::string key = "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
    const struct {
        TKnownHostsAnswer knownHosts;
        std::string trusted;
        Status expected;
    } cases[] = {
        { TKnownHostsAnswer::Match, "", Status::Known },
        { TKnownHostsAnswer::Match, "SHA256:somethingElse", Status::Known },
        { TKnownHostsAnswer::Absent, "", Status::Unknown },
        { TKnownHostsAnswer::Absent, key, Status::Trusted },
        // pasted with padding and a line break: the same key
        { TKnownHostsAnswer::Absent, " " + key + "=\n", Status::Trusted },
        { TKnownHostsAnswer::Absent, "SHA256:somethingElse", Status::Changed },
        // a trusted key never overrules known_hosts naming another key
        { TKnownHostsAnswer::Mismatch, key, Status::Changed },
        { TKnownHostsAnswer::Mismatch, "", Status::Changed },
        // a revoked key is refused whatever vouches for it
        { TKnownHostsAnswer::Revoked, key, Status::Revoked },
        { TKnownHostsAnswer::Revoked, "", Status::Revoked },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trusted);
        EXPECT_EQ(JudgeHostKey(c.knownHosts, key, c.trusted), c.expected);
    }
}

TEST(HostKeyJudgement, FingerprintIsOpenSshsUnpaddedBase64)
{
    // SHA-256 of nothing, and digests whose length leaves one and two bytes over.
    const unsigned char empty[] = { 0xe3, 0xb0, 0xc4, 0x42, 0x98, 0xfc, 0x1c, 0x14, 0x9a, 0xfb, 0xf4, 0xc8,
        0x99, 0x6f, 0xb9, 0x24, 0x27, 0xae, 0x41, 0xe4, 0x64, 0x9b, 0x93, 0x4c, 0xa4, 0x95, 0x99, 0x1b, 0x78,
        0x52, 0xb8, 0x55 };
    EXPECT_EQ(OpenSshFingerprint(empty, sizeof empty), "SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU");
    const unsigned char bytes[] = { 0xfb, 0xff, 0x00, 0x01 };
    EXPECT_EQ(OpenSshFingerprint(bytes, 1), "SHA256:+w");
    EXPECT_EQ(OpenSshFingerprint(bytes, 2), "SHA256:+/8");
    EXPECT_EQ(OpenSshFingerprint(bytes, 3), "SHA256:+/8A");
    EXPECT_EQ(OpenSshFingerprint(bytes, 4), "SHA256:+/8AAQ");
}

} // namespace
} // namespace taskhaul::sftp
