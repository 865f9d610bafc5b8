#include "sftp/sftp_host_key.h"

#include "sftp/sftp_errors.h"

namespace taskhaul::sftp {
namespace {

// A pasted fingerprint may carry blanks or base64 padding; neither changes the key.
std::string NormalizedFingerprint(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            out += c;
    }
    while (!out.empty() && out.back() == '=')
        out.pop_back();
    return out;
}

} // namespace

TSftpHostKey::Status JudgeHostKey(
    TKnownHostsAnswer knownHosts, const std::string& fingerprint, const std::string& trustedKey)
{
    using Status = TSftpHostKey::Status;
    // As OpenSSH has it: a revoked key is never accepted, neither by a line
    // that lists it nor by the job's trust.
    if (knownHosts == TKnownHostsAnswer::Revoked)
        return Status::Revoked;
    if (knownHosts == TKnownHostsAnswer::Match)
        return Status::Known;
    // known_hosts names another key for this host: a key the job trusts does
    // not overrule that, or an old answer could let an impostor in.
    if (knownHosts == TKnownHostsAnswer::Mismatch)
        return Status::Changed;
    const std::string trusted = NormalizedFingerprint(trustedKey);
    if (trusted.empty())
        return Status::Unknown;
    return trusted == NormalizedFingerprint(fingerprint) ? Status::Trusted : Status::Changed;
}

std::string OpenSshFingerprint(const unsigned char* digest, std::size_t length)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "SHA256:";
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned value = (digest[i] << 16) | (digest[i + 1] << 8) | digest[i + 2];
        out += kAlphabet[(value >> 18) & 63];
        out += kAlphabet[(value >> 12) & 63];
        out += kAlphabet[(value >> 6) & 63];
        out += kAlphabet[value & 63];
    }
    if (length - i == 1) {
        const unsigned value = digest[i] << 16;
        out += kAlphabet[(value >> 18) & 63];
        out += kAlphabet[(value >> 12) & 63];
    } else if (length - i == 2) {
        const unsigned value = (digest[i] << 16) | (digest[i + 1] << 8);
        out += kAlphabet[(value >> 18) & 63];
        out += kAlphabet[(value >> 12) & 63];
        out += kAlphabet[(value >> 6) & 63];
    }
    return out;
}

ESftpHostKeyUnknown::ESftpHostKeyUnknown(const std::string& keyType, const std::string& fingerprint)
    : ESftpHostKeyError(
        "The server's host key is not known: " + keyType + " " + fingerprint + ".", keyType, fingerprint)
{
}

ESftpHostKeyChanged::ESftpHostKeyChanged(const std::string& keyType, const std::string& fingerprint)
    : ESftpHostKeyError("The server's host key has changed: it is now " + keyType + " " + fingerprint
            + ". Someone may be intercepting the connection, or the server's key was replaced; "
              "the connection was refused.",
        keyType, fingerprint)
{
}

ESftpHostKeyRevoked::ESftpHostKeyRevoked(const std::string& keyType, const std::string& fingerprint)
    : ESftpHostKeyError("The server's host key is revoked: " + keyType + " " + fingerprint
            + " is marked @revoked in known_hosts. Someone may be using a stolen key to pose as the server; "
              "the connection was refused.",
        keyType, fingerprint)
{
}

} // namespace taskhaul::sftp
