#pragma once

// How a server's host key is judged: from what known_hosts says about the host
// and the key the user trusts, apart from the SSH library so that tests can
// go through every case.

#include "sftp/sftp_client.h"

#include <cstddef>
#include <string>

namespace taskhaul::sftp {

// Match: known_hosts has this host with this key; Mismatch: with another key
// only; Absent: not at all (or the file is missing or unreadable); Revoked: a
// "@revoked" line names this key for the host, whatever the other lines say.
enum class TKnownHostsAnswer { Match, Mismatch, Absent, Revoked };
TSftpHostKey::Status JudgeHostKey(
    TKnownHostsAnswer knownHosts, const std::string& fingerprint, const std::string& trustedKey);

// "SHA256:" and the unpadded base64 of a SHA-256 digest, as OpenSSH shows keys.
std::string OpenSshFingerprint(const unsigned char* digest, std::size_t length);

} // namespace taskhaul::sftp
