#include "sftp/sftp_client.h"

#include "ftp/ftp_errors.h"
#include "ftp/ftp_socket.h"
#include "sftp/sftp_client_impl.h"
#include "sftp/sftp_host_key.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::sftp {
namespace {

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return {};
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

// Keyboard-interactive with the password: every prompt that hides its answer
// gets the password, the others an empty answer. A server that keeps asking
// is given up on after a few rounds.
int AnswerKeyboardInteractive(ssh_session session, const std::string& password)
{
    int rc = ssh_userauth_kbdint(session, nullptr, nullptr);
    for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
        const int prompts = ssh_userauth_kbdint_getnprompts(session);
        for (int i = 0; i < prompts; ++i) {
            char echo = 0;
            ssh_userauth_kbdint_getprompt(session, static_cast<unsigned>(i), &echo);
            ssh_userauth_kbdint_setanswer(session, static_cast<unsigned>(i), echo ? "" : password.c_str());
        }
        rc = ssh_userauth_kbdint(session, nullptr, nullptr);
    }
    return rc == SSH_AUTH_INFO ? SSH_AUTH_DENIED : rc;
}

} // namespace

std::string AuthMethodName(TSftpAuthMethod method)
{
    switch (method) {
    case TSftpAuthMethod::None:
        return "none";
    case TSftpAuthMethod::Agent:
        return "public key from the agent";
    case TSftpAuthMethod::KeyFile:
        return "key file";
    case TSftpAuthMethod::KeyboardInteractive:
        return "keyboard-interactive";
    case TSftpAuthMethod::Password:
        return "password";
    }
    return "none";
}

TBusyScope::TBusyScope(bool& busy)
    : busy_(busy)
{
    if (busy_)
        throw ESftpBusy();
    busy_ = true;
}

TSftpClient::TSftpClient(PumpHandler pump)
    : d(std::make_unique<Impl>())
{
    d->pump = std::move(pump);
}

TSftpClient::~TSftpClient()
{
    d->Close();
}

TSftpSettings& TSftpClient::Settings() noexcept
{
    return d->settings;
}

const TSftpLimits& TSftpClient::Limits() const noexcept
{
    return d->limits;
}

void TSftpClient::SetLimits(const TSftpLimits& limits)
{
    d->limits = limits;
}

const TSftpHostKey& TSftpClient::HostKey() const noexcept
{
    return d->hostKey;
}

TSftpAuthMethod TSftpClient::AuthenticatedBy() const noexcept
{
    return d->authenticatedBy;
}

bool TSftpClient::IsConnected() const noexcept
{
    return d->sftp != nullptr;
}

bool TSftpClient::IsBusy() const noexcept
{
    return d->busy;
}

void TSftpClient::Stop() noexcept
{
    if (d->busy)
        d->stopRequested = true;
}

void TSftpClient::Disconnect()
{
    if (d->busy) {
        d->disconnectRequested = true;
        d->stopRequested = true;
        return;
    }
    d->Close();
}

void TSftpClient::Connect()
{
    TBusyScope busy(d->busy);
    d->Close();
    d->hostKey = {};
    d->authenticatedBy = TSftpAuthMethod::None;
    d->stopRequested = false;
    d->disconnectRequested = false;

    const auto started = SteadyClock::now();
    ftp::net::Fd socket;
    try {
        const ftp::net::Pumper pumper { d->pump, d->limits.PumpInterval };
        socket = ftp::net::ConnectTcp(d->settings.Host, d->settings.Port, d->limits.ConnectTimeout, pumper,
            [this] { return d->stopRequested.load(); });
    } catch (const ftp::EConnectionClosed&) {
        if (d->disconnectRequested)
            throw ESftpNotConnected();
        throw ESftpAborted();
    } catch (const ftp::EConnectTimeout& e) {
        throw ESftpTimeout(e.what());
    } catch (const ftp::EFtpException& e) {
        throw ESftpConnectionError(e.what());
    }
    ftp::net::SetNoDelay(socket.Get());

    d->session = ssh_new();
    if (!d->session)
        throw ESftpConnectionError("Cannot start an SSH session.");
    const long timeoutSeconds
        = std::max<long>(1, static_cast<long>((d->limits.ConnectTimeout.count() + 999) / 1000));
    const int port = d->settings.Port;
    const int no = 0;
    const std::string knownHosts = d->settings.KnownHostsPath.empty() ? HomeFolder() + "/.ssh/known_hosts"
                                                                      : d->settings.KnownHostsPath;
    // Ciphers with hardware support first: AES-GCM runs several times faster
    // than ChaCha20 where the processor has AES instructions.
    const char* ciphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
                          "aes128-ctr,aes192-ctr,aes256-ctr";
    ssh_options_set(d->session, SSH_OPTIONS_HOST, d->settings.Host.c_str());
    ssh_options_set(d->session, SSH_OPTIONS_PORT, &port);
    if (!d->settings.Username.empty())
        ssh_options_set(d->session, SSH_OPTIONS_USER, d->settings.Username.c_str());
    // The user's ssh configuration is not read: the job's settings say it all.
    ssh_options_set(d->session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(d->session, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());
    ssh_options_set(d->session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, knownHosts.c_str());
    ssh_options_set(d->session, SSH_OPTIONS_TIMEOUT, &timeoutSeconds);
    ssh_options_set(d->session, SSH_OPTIONS_CIPHERS_C_S, ciphers);
    ssh_options_set(d->session, SSH_OPTIONS_CIPHERS_S_C, ciphers);
    ssh_options_set(d->session, SSH_OPTIONS_COMPRESSION, "no");
    int fd = socket.Release();
    ssh_options_set(d->session, SSH_OPTIONS_FD, &fd);
    d->socket = fd;

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started);
    try {
        // The worker reads a copy: the pump may change the settings meanwhile.
        const TSftpSettings job = d->settings;
        d->RunPumped([this, &job] { d->HandshakeAndLogin(job); }, d->limits.ConnectTimeout - elapsed,
            "Connect timed out.");
    } catch (...) {
        d->Close();
        throw;
    }
}

void TSftpClient::Impl::RequireConnected() const
{
    if (!sftp)
        throw ESftpNotConnected();
}

void TSftpClient::Impl::Cut() noexcept
{
    if (socket >= 0)
        ::shutdown(socket, SHUT_RDWR);
}

void TSftpClient::Impl::Close() noexcept
{
    if (sftp) {
        sftp_free(sftp);
        sftp = nullptr;
    }
    if (session) {
        // Says goodbye without waiting for a server that no longer reads.
        ssh_set_blocking(session, 0);
        ssh_disconnect(session);
        ssh_free(session);
        session = nullptr;
    }
    // The library leaves a socket it was handed open.
    if (socket >= 0)
        ::close(socket);
    socket = -1;
}

void TSftpClient::Impl::RunPumped(const std::function<void()>& task, std::chrono::milliseconds idleLimit,
    const char* timeoutText, const ProgressHandler& progress)
{
    enum class Ended { No, Stopped, TimedOut, PumpFailed };
    Ended ended = Ended::No;
    std::exception_ptr pumpError;
    std::int64_t reported = -1;
    Touch();
    worker.Post(task);
    while (!worker.WaitDone(limits.PumpInterval)) {
        if (ended != Ended::No)
            continue; // the socket is shut down; the worker is on its way out
        // Neither the caller's progress handler nor its pump may unwind past
        // a worker that still writes into the caller's objects.
        try {
            if (progress && received.load() != reported) {
                reported = received.load();
                progress(reported, total.load());
            }
            if (pump)
                pump();
        } catch (...) {
            pumpError = std::current_exception();
            ended = Ended::PumpFailed;
        }
        const auto idle
            = SteadyClock::now() - SteadyClock::time_point(SteadyClock::duration(lastActivity.load()));
        if (ended == Ended::No && stopRequested)
            ended = Ended::Stopped;
        else if (ended == Ended::No && idle >= idleLimit)
            ended = Ended::TimedOut;
        if (ended != Ended::No)
            Cut();
    }
    try {
        worker.TakeResult();
    } catch (const ESftpConnectionError&) {
        if (ended == Ended::No) {
            Close();
            throw;
        }
    } catch (...) {
        if (ended == Ended::No)
            throw;
    }
    if (ended == Ended::No)
        return;
    Close();
    switch (ended) {
    case Ended::PumpFailed:
        std::rethrow_exception(pumpError);
    case Ended::TimedOut:
        throw ESftpTimeout(timeoutText);
    default:
        if (disconnectRequested)
            throw ESftpNotConnected();
        throw ESftpAborted();
    }
}

[[noreturn]] void TSftpClient::Impl::ThrowLost() const
{
    const char* reason = session ? ssh_get_error(session) : "";
    if (reason && *reason)
        throw ESftpConnectionError(std::string("Connection lost: ") + reason);
    throw ESftpConnectionError("Connection lost.");
}

void TSftpClient::Impl::HandshakeAndLogin(const TSftpSettings& job)
{
    if (ssh_connect(session) != SSH_OK)
        throw ESftpConnectionError(std::string("SSH connection failed: ") + ssh_get_error(session));

    // The host key, before anything about the user goes out.
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(session, &key) != SSH_OK)
        throw ESftpConnectionError(std::string("SSH connection failed: ") + ssh_get_error(session));
    unsigned char* digest = nullptr;
    std::size_t digestLength = 0;
    const int hashed = ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &digest, &digestLength);
    hostKey.Type = ssh_key_type_to_char(ssh_key_type(key));
    ssh_key_free(key);
    if (hashed != 0)
        throw ESftpConnectionError("SSH connection failed: the server's host key cannot be read.");
    hostKey.Fingerprint = OpenSshFingerprint(digest, digestLength);
    ssh_clean_pubkey_hash(&digest);
    TKnownHostsAnswer answer = TKnownHostsAnswer::Absent;
    switch (ssh_session_is_known_server(session)) {
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
    hostKey.Verdict = JudgeHostKey(answer, hostKey.Fingerprint, job.TrustedHostKey);
    if (hostKey.Verdict == TSftpHostKey::Status::Unknown)
        throw ESftpHostKeyUnknown(hostKey.Type, hostKey.Fingerprint);
    if (hostKey.Verdict == TSftpHostKey::Status::Changed)
        throw ESftpHostKeyChanged(hostKey.Type, hostKey.Fingerprint);

    // Authentication in OpenSSH's order: keys (the agent's, then the key
    // file), then keyboard-interactive and password with the password.
    std::vector<std::string> tried;
    int rc = ssh_userauth_none(session, nullptr);
    if (rc == SSH_AUTH_ERROR)
        ThrowLost();
    TSftpAuthMethod method = TSftpAuthMethod::None;
    const int offered = rc == SSH_AUTH_SUCCESS ? 0 : ssh_userauth_list(session, nullptr);
    const auto attempt = [&](TSftpAuthMethod candidate, int result) {
        if (result == SSH_AUTH_ERROR && !ssh_is_connected(session))
            ThrowLost();
        if (result == SSH_AUTH_SUCCESS)
            method = candidate;
        return result == SSH_AUTH_SUCCESS;
    };
    bool done = rc == SSH_AUTH_SUCCESS;
    const std::string agent = job.AgentSocket ? *job.AgentSocket : [] {
        const char* fromEnvironment = std::getenv("SSH_AUTH_SOCK");
        return std::string(fromEnvironment ? fromEnvironment : "");
    }();
    if (!done && (offered & SSH_AUTH_METHOD_PUBLICKEY) && !agent.empty()) {
        ssh_options_set(session, SSH_OPTIONS_IDENTITY_AGENT, agent.c_str());
        tried.push_back(AuthMethodName(TSftpAuthMethod::Agent));
        done = attempt(TSftpAuthMethod::Agent, ssh_userauth_agent(session, nullptr));
    }
    if (!done && (offered & SSH_AUTH_METHOD_PUBLICKEY) && !job.KeyFile.empty()) {
        ssh_key privateKey = nullptr;
        const char* passphrase = job.KeyPassphrase.empty() ? nullptr : job.KeyPassphrase.c_str();
        if (ssh_pki_import_privkey_file(job.KeyFile.c_str(), passphrase, nullptr, nullptr, &privateKey)
            != SSH_OK) {
            tried.push_back("key file \"" + job.KeyFile + "\" (cannot be read, or the passphrase is wrong)");
        } else {
            tried.push_back("key file \"" + job.KeyFile + "\"");
            done = attempt(TSftpAuthMethod::KeyFile, ssh_userauth_publickey(session, nullptr, privateKey));
            ssh_key_free(privateKey);
        }
    }
    if (!done && (offered & SSH_AUTH_METHOD_INTERACTIVE) && !job.Password.empty()) {
        tried.push_back(AuthMethodName(TSftpAuthMethod::KeyboardInteractive));
        done
            = attempt(TSftpAuthMethod::KeyboardInteractive, AnswerKeyboardInteractive(session, job.Password));
    }
    if (!done && (offered & SSH_AUTH_METHOD_PASSWORD) && !job.Password.empty()) {
        tried.push_back(AuthMethodName(TSftpAuthMethod::Password));
        done = attempt(
            TSftpAuthMethod::Password, ssh_userauth_password(session, nullptr, job.Password.c_str()));
    }
    if (!done) {
        const std::string user = "\"" + job.Username + "\"";
        if (tried.empty())
            throw ESftpAuthError("Authentication failed for user " + user + ": the server offers "
                + Joined(OfferedNames(offered)) + ", and no password, key file or agent was there to try.");
        throw ESftpAuthError("Authentication failed for user " + user + " (tried: " + Joined(tried) + ").");
    }
    authenticatedBy = method;
    Touch();

    sftp = sftp_new(session);
    if (!sftp)
        throw ESftpConnectionError(std::string("Cannot start SFTP on the server: ") + ssh_get_error(session));
    if (sftp_init(sftp) != SSH_OK) {
        sftp_free(sftp);
        sftp = nullptr;
        throw ESftpConnectionError(std::string("Cannot start SFTP on the server: ") + ssh_get_error(session));
    }
}

} // namespace taskhaul::sftp
