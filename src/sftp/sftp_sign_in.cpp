// The worker's side of a connect: the key exchange, the server's host key, the
// sign-in and the SFTP subsystem.

#include "sftp/sftp_client_impl.h"
#include "sftp/sftp_host_key.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <vector>

namespace taskhaul::sftp {
namespace {

const char* const kSignInClosed
    = "The server closed the connection during sign-in (too many authentication attempts?)";

// A sign-in request waits this long at a time (see TSignIn).
constexpr long kSignInSliceMicroseconds = 100000;

void SetTimeout(ssh_session session, long seconds, long microseconds)
{
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &seconds);
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT_USEC, &microseconds);
}

long WholeSeconds(std::chrono::milliseconds limit)
{
    return std::max<long>(1, static_cast<long>((limit.count() + 999) / 1000));
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string out;
    for (const auto& part : parts)
        out += (out.empty() ? "" : ", ") + part;
    return out;
}

std::vector<std::string> OfferedNames(int offered)
{
    std::vector<std::string> names;
    if (offered & SSH_AUTH_METHOD_PUBLICKEY)
        names.emplace_back("publickey");
    if (offered & SSH_AUTH_METHOD_INTERACTIVE)
        names.emplace_back("keyboard-interactive");
    if (offered & SSH_AUTH_METHOD_PASSWORD)
        names.emplace_back("password");
    if (offered & SSH_AUTH_METHOD_HOSTBASED)
        names.emplace_back("hostbased");
    if (offered & SSH_AUTH_METHOD_GSSAPI_MIC)
        names.emplace_back("gssapi-with-mic");
    return names;
}

// The host as known_hosts names it: libssh's host name in lower case, in
// brackets with the port when the port is not 22.
std::string KnownHostsName(ssh_session session)
{
    char* host = nullptr;
    if (ssh_options_get(session, SSH_OPTIONS_HOST, &host) != SSH_OK || !host)
        return {};
    std::string name = host;
    ssh_string_free_char(host);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    unsigned int port = 22;
    ssh_options_get_port(session, &port);
    return port == 22 || port == 0 ? name : "[" + name + "]:" + std::to_string(port);
}

// Whether a "@revoked" line of `file` names `key` for this host. libssh skips
// marker lines; the lines are read here and their host patterns and keys
// matched by libssh's own parser, as it matches the plain lines.
bool RevokedInKnownHosts(const std::string& file, ssh_session session, ssh_key key)
{
    static const std::string marker = "@revoked";
    const std::string host = KnownHostsName(session);
    std::ifstream in(file);
    std::string line;
    while (!host.empty() && std::getline(in, line)) {
        std::replace(line.begin(), line.end(), '\t', ' ');
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos || line.compare(start, marker.size(), marker) != 0
            || line.size() <= start + marker.size() || line[start + marker.size()] != ' ')
            continue;
        const std::size_t rest = line.find_first_not_of(' ', start + marker.size());
        if (rest == std::string::npos)
            continue;
        ssh_knownhosts_entry* entry = nullptr;
        if (ssh_known_hosts_parse_line(host.c_str(), line.c_str() + rest, &entry) != SSH_OK || !entry)
            continue;
        const bool same = entry->publickey && ssh_key_cmp(entry->publickey, key, SSH_KEY_CMP_PUBLIC) == 0;
        ssh_knownhosts_entry_free(entry);
        if (same)
            return true;
    }
    return false;
}

// The host key, before anything about the user goes out.
void CheckHostKey(TLink& link, const TSftpSettings& job)
{
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(link.session, &key) != SSH_OK)
        throw ESftpConnectionError(std::string("SSH connection failed: ") + ssh_get_error(link.session));
    const std::unique_ptr<ssh_key_struct, void (*)(ssh_key)> ownedKey(key, ssh_key_free);
    unsigned char* digest = nullptr;
    std::size_t digestLength = 0;
    const int hashed = ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &digest, &digestLength);
    TSftpHostKey& hostKey = link.hostKey;
    hostKey.Type = ssh_key_type_to_char(ssh_key_type(key));
    if (hashed != 0)
        throw ESftpConnectionError("SSH connection failed: the server's host key cannot be read.");
    hostKey.Fingerprint = OpenSshFingerprint(digest, digestLength);
    ssh_clean_pubkey_hash(&digest);
    TKnownHostsAnswer answer = TKnownHostsAnswer::Absent;
    switch (ssh_session_is_known_server(link.session)) {
    case SSH_KNOWN_HOSTS_OK:
        answer = TKnownHostsAnswer::Match;
        break;
    case SSH_KNOWN_HOSTS_CHANGED:
    case SSH_KNOWN_HOSTS_OTHER:
        answer = TKnownHostsAnswer::Mismatch;
        break;
    default:
        break;
    }
    if (RevokedInKnownHosts(job.KnownHostsPath, link.session, key))
        answer = TKnownHostsAnswer::Revoked;
    hostKey.Verdict = JudgeHostKey(answer, hostKey.Fingerprint, job.TrustedHostKey);
    switch (hostKey.Verdict) {
    case TSftpHostKey::Status::Unknown:
        throw ESftpHostKeyUnknown(hostKey.Type, hostKey.Fingerprint);
    case TSftpHostKey::Status::Changed:
        throw ESftpHostKeyChanged(hostKey.Type, hostKey.Fingerprint);
    case TSftpHostKey::Status::Revoked:
        throw ESftpHostKeyRevoked(hostKey.Type, hostKey.Fingerprint);
    default:
        break;
    }
}

// Authentication in OpenSSH's order: keys (the agent's, then the key file),
// then keyboard-interactive and password with the password.
//
// Each request waits in short slices. libssh 0.10 waits for the answer to a
// sign-in request until its time limit even after it has closed the socket
// itself (the server hung up, as sshd does past MaxAuthTries): its wait then
// watches nothing, and no shutdown reaches a socket that is gone. Between
// slices the worker looks whether the connection is still there and whether
// it was cut, and asks libssh to go on waiting (it keeps the pending request).
class TSignIn {
public:
    TSignIn(TLink& link, const TSftpSettings& job)
        : link_(link)
        , session_(link.session)
        , job_(job)
    {
    }

    TSftpAuthMethod Run()
    {
        const int none = Call([this] { return ssh_userauth_none(session_, nullptr); });
        if (none == SSH_AUTH_SUCCESS)
            return TSftpAuthMethod::None;
        offered_ = ssh_userauth_list(session_, nullptr);
        const bool keys = offered_ & SSH_AUTH_METHOD_PUBLICKEY;
        if (keys && TryAgent())
            return TSftpAuthMethod::Agent;
        if (keys && TryKeyFile())
            return TSftpAuthMethod::KeyFile;
        if ((offered_ & SSH_AUTH_METHOD_INTERACTIVE) && !job_.Password.empty()) {
            tried_.push_back(AuthMethodName(TSftpAuthMethod::KeyboardInteractive));
            if (AnswerKeyboardInteractive())
                return TSftpAuthMethod::KeyboardInteractive;
        }
        if ((offered_ & SSH_AUTH_METHOD_PASSWORD) && !job_.Password.empty()) {
            tried_.push_back(AuthMethodName(TSftpAuthMethod::Password));
            if (Call([this] { return ssh_userauth_password(session_, nullptr, job_.Password.c_str()); })
                == SSH_AUTH_SUCCESS)
                return TSftpAuthMethod::Password;
        }
        const std::string user = "\"" + job_.Username + "\"";
        if (tried_.empty())
            throw ESftpAuthError("Authentication failed for user " + user + ": the server offers "
                + Joined(OfferedNames(offered_)) + ", and no password, key file or agent was there to try.");
        throw ESftpAuthError("Authentication failed for user " + user + " (tried: " + Joined(tried_) + ").");
    }

private:
    // One request, waited for slice by slice.
    int Call(const std::function<int()>& request)
    {
        for (;;) {
            const int rc = request();
            if (link_.cut)
                throw ESftpConnectionError("Connection cut.");
            if (rc != SSH_AUTH_SUCCESS && !ssh_is_connected(session_))
                ThrowClosed();
            if (rc != SSH_AUTH_AGAIN)
                return rc;
        }
    }

    [[noreturn]] void ThrowClosed() const
    {
        std::string text = std::string(kSignInClosed) + ".";
        // "Received SSH_MSG_DISCONNECT: 2:Too many authentication failures"
        static const std::string disconnect = "Received SSH_MSG_DISCONNECT: ";
        const std::string error = ssh_get_error(session_);
        const std::size_t colon = error.find(':', disconnect.size());
        if (error.rfind(disconnect, 0) == 0 && colon != std::string::npos && colon + 1 < error.size())
            text += " The server said: " + error.substr(colon + 1) + ".";
        if (!tried_.empty())
            text += " Tried: " + Joined(tried_) + ".";
        throw ESftpConnectionError(text);
    }

    bool TryAgent()
    {
        const std::string agent = job_.AgentSocket ? *job_.AgentSocket : [] {
            const char* fromEnvironment = std::getenv("SSH_AUTH_SOCK");
            return std::string(fromEnvironment ? fromEnvironment : "");
        }();
        if (agent.empty())
            return false;
        tried_.push_back(AuthMethodName(TSftpAuthMethod::Agent));
        // Only the agent the client connected (and can cut) is asked.
        return link_.agentCutter >= 0
            && Call([this] { return ssh_userauth_agent(session_, nullptr); }) == SSH_AUTH_SUCCESS;
    }

    bool TryKeyFile()
    {
        if (job_.KeyFile.empty())
            return false;
        ssh_key privateKey = nullptr;
        const char* passphrase = job_.KeyPassphrase.empty() ? nullptr : job_.KeyPassphrase.c_str();
        if (ssh_pki_import_privkey_file(job_.KeyFile.c_str(), passphrase, nullptr, nullptr, &privateKey)
            != SSH_OK) {
            tried_.push_back(
                "key file \"" + job_.KeyFile + "\" (cannot be read, or the passphrase is wrong)");
            return false;
        }
        const std::unique_ptr<ssh_key_struct, void (*)(ssh_key)> owned(privateKey, ssh_key_free);
        tried_.push_back("key file \"" + job_.KeyFile + "\"");
        return Call([&] { return ssh_userauth_publickey(session_, nullptr, privateKey); })
            == SSH_AUTH_SUCCESS;
    }

    // Keyboard-interactive with the password: every prompt that hides its
    // answer gets the password, the others an empty answer. A server that
    // keeps asking is given up on after a few rounds.
    bool AnswerKeyboardInteractive()
    {
        const auto step = [this] { return ssh_userauth_kbdint(session_, nullptr, nullptr); };
        int rc = Call(step);
        for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
            const int prompts = ssh_userauth_kbdint_getnprompts(session_);
            for (int i = 0; i < prompts; ++i) {
                char echo = 0;
                ssh_userauth_kbdint_getprompt(session_, static_cast<unsigned>(i), &echo);
                ssh_userauth_kbdint_setanswer(
                    session_, static_cast<unsigned>(i), echo ? "" : job_.Password.c_str());
            }
            rc = Call(step);
        }
        return rc == SSH_AUTH_SUCCESS;
    }

    TLink& link_;
    ssh_session session_;
    const TSftpSettings& job_;
    int offered_ = 0;
    std::vector<std::string> tried_;
};

} // namespace

void HandshakeAndLogin(TLink& link, const TSftpSettings& job, std::chrono::milliseconds connectLimit)
{
    ssh_session session = link.session;
    if (ssh_connect(session) != SSH_OK)
        throw ESftpConnectionError(std::string("SSH connection failed: ") + ssh_get_error(session));
    CheckHostKey(link, job);

    SetTimeout(session, 0, kSignInSliceMicroseconds);
    link.authenticatedBy = TSignIn(link, job).Run();
    SetTimeout(session, WholeSeconds(connectLimit), 0);
    link.Touch();

    link.sftp = sftp_new(session);
    if (!link.sftp)
        throw ESftpConnectionError(std::string("Cannot start SFTP on the server: ") + ssh_get_error(session));
    if (sftp_init(link.sftp) != SSH_OK) {
        sftp_free(link.sftp);
        link.sftp = nullptr;
        throw ESftpConnectionError(std::string("Cannot start SFTP on the server: ") + ssh_get_error(session));
    }
}

} // namespace taskhaul::sftp
