#include "sftp/sftp_client.h"

#include "ftp/ftp_errors.h"
#include "ftp/ftp_socket.h"
#include "sftp/sftp_client_impl.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <fcntl.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
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

std::string SystemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno) + ".";
}

// Hands the connection's socket to the session and keeps a duplicate of it
// for Cut (see TLink).
void HandSocket(TLink& link, ftp::net::Fd socket)
{
    // libssh reports 0.2 the moment ssh_connect has taken the socket.
    ssh_callbacks_init(&link.callbacks);
    link.callbacks.userdata = &link;
    link.callbacks.connect_status_function = [](void* user, float status) {
        if (status > 0)
            static_cast<TLink*>(user)->taken = true;
    };
    ssh_set_callbacks(link.session, &link.callbacks);
    link.cutter = ::fcntl(socket.Get(), F_DUPFD_CLOEXEC, 0);
    if (link.cutter < 0)
        throw ESftpConnectionError(SystemError("Cannot start an SSH session"));
    // libssh keeps only the low 16 bits of the number it is given.
    int fd = socket.Get();
    if (fd > 0xffff)
        throw ESftpConnectionError("Cannot start an SSH session: too many files are open.");
    if (ssh_options_set(link.session, SSH_OPTIONS_FD, &fd) != SSH_OK)
        throw ESftpConnectionError(
            std::string("Cannot start an SSH session: ") + ssh_get_error(link.session));
    link.handed = socket.Release();
}

// Connects the ssh-agent's socket and hands it to the session, keeping a
// duplicate for Cut (see TLink). Without an agent there, nothing is handed
// and the agent is not asked.
void HandAgent(TLink& link, const std::string& path)
{
    sockaddr_un address {};
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    // Not blocking: an agent whose backlog is full counts as none.
    ftp::net::Fd agent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!agent.Valid()
        || ::connect(agent.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return;
    ::fcntl(agent.Get(), F_SETFL, ::fcntl(agent.Get(), F_GETFL) & ~O_NONBLOCK);
    const int cutter = ::fcntl(agent.Get(), F_DUPFD_CLOEXEC, 0);
    if (cutter < 0)
        return;
    if (ssh_set_agent_socket(link.session, agent.Get()) != SSH_OK) {
        ::close(cutter);
        return;
    }
    agent.Release();
    link.agentCutter = cutter;
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
    return d->connected;
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

    // The worker reads a copy: the pump may change the settings meanwhile.
    TSftpSettings job = d->settings;
    if (job.KnownHostsPath.empty())
        job.KnownHostsPath = HomeFolder() + "/.ssh/known_hosts";
    auto link = std::make_shared<TLink>();
    link->session = ssh_new();
    if (!link->session)
        throw ESftpConnectionError("Cannot start an SSH session.");
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started);
    const std::chrono::milliseconds limit = d->limits.ConnectTimeout - elapsed;
    const long timeoutSeconds = std::max<long>(1, static_cast<long>((limit.count() + 999) / 1000));
    const int port = job.Port;
    const bool no = false;
    // Ciphers with hardware support first: AES-GCM runs several times faster
    // than ChaCha20 where the processor has AES instructions.
    const char* ciphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,"
                          "aes128-ctr,aes192-ctr,aes256-ctr";
    ssh_session session = link->session;
    ssh_options_set(session, SSH_OPTIONS_HOST, job.Host.c_str());
    ssh_options_set(session, SSH_OPTIONS_PORT, &port);
    if (!job.Username.empty())
        ssh_options_set(session, SSH_OPTIONS_USER, job.Username.c_str());
    // The user's ssh configuration is not read: the job's settings say it all.
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, job.KnownHostsPath.c_str());
    ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, job.KnownHostsPath.c_str());
    ssh_options_set(session, SSH_OPTIONS_TIMEOUT, &timeoutSeconds);
    ssh_options_set(session, SSH_OPTIONS_CIPHERS_C_S, ciphers);
    ssh_options_set(session, SSH_OPTIONS_CIPHERS_S_C, ciphers);
    ssh_options_set(session, SSH_OPTIONS_COMPRESSION, "no");
    HandSocket(*link, std::move(socket));
    const char* fromEnvironment = std::getenv("SSH_AUTH_SOCK");
    HandAgent(
        *link, job.AgentSocket ? *job.AgentSocket : std::string(fromEnvironment ? fromEnvironment : ""));

    d->link = link;
    try {
        d->RunPumped(
            [link, job, limit] { HandshakeAndLogin(*link, job, limit); }, limit, "Connect timed out.");
    } catch (...) {
        // What the worker saw of the host key, unless it was left running.
        if (!link->abandoned)
            d->hostKey = link->hostKey;
        d->Close();
        throw;
    }
    d->hostKey = link->hostKey;
    d->authenticatedBy = link->authenticatedBy;
    d->connected = true;
}

void TSftpClient::Impl::RequireConnected() const
{
    if (!connected)
        throw ESftpNotConnected();
}

void TLink::Cut() noexcept
{
    cut = true;
    if (cutter >= 0)
        ::shutdown(cutter, SHUT_RDWR);
    if (agentCutter >= 0)
        ::shutdown(agentCutter, SHUT_RDWR);
}

void TLink::Close() noexcept
{
    // Nothing here may wait for a server that no longer reads.
    if (session)
        ssh_set_blocking(session, 0);
    if (sftp) {
        sftp_free(sftp);
        sftp = nullptr;
    }
    if (session) {
        // Closes the socket it took, unless it has already, and the agent's.
        ssh_free(session);
        session = nullptr;
    }
    if (handed >= 0 && !taken)
        ::close(handed);
    handed = -1;
    for (int* own : { &cutter, &agentCutter }) {
        if (*own >= 0)
            ::close(*own);
        *own = -1;
    }
}

[[noreturn]] void TLink::ThrowLost() const
{
    const char* reason = session ? ssh_get_error(session) : "";
    if (reason && *reason)
        throw ESftpConnectionError(std::string("Connection lost: ") + reason);
    throw ESftpConnectionError("Connection lost.");
}

void TSftpClient::Impl::Close() noexcept
{
    connected = false;
    if (link) {
        link->Close();
        link.reset();
    }
}

void TSftpClient::Impl::RunPumped(std::function<void()> task, std::chrono::milliseconds idleLimit,
    const char* timeoutText, const ProgressHandler& progress)
{
    enum class Ended { No, Stopped, TimedOut, PumpFailed };
    Ended ended = Ended::No;
    SteadyClock::time_point endedAt;
    std::exception_ptr pumpError;
    std::int64_t reported = -1;
    const std::shared_ptr<TLink> running = link;
    running->Touch();
    if (!worker)
        worker = std::make_unique<TWorker>();
    worker->Post(std::move(task));
    const auto end = [&](Ended why) {
        ended = why;
        endedAt = SteadyClock::now();
        running->Cut();
    };
    const auto throwEnded = [&]() {
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
    };
    while (!worker->WaitDone(limits.PumpInterval)) {
        // Neither the caller's progress handler nor its pump may unwind past
        // the wait: the worker still writes into what the task owns.
        try {
            if (ended == Ended::No && progress && running->received.load() != reported) {
                reported = running->received.load();
                progress(reported, running->total.load());
            }
            if (pump)
                pump();
        } catch (...) {
            if (ended == Ended::No) {
                pumpError = std::current_exception();
                end(Ended::PumpFailed);
            }
        }
        if (ended == Ended::No) {
            const auto idle = SteadyClock::now()
                - SteadyClock::time_point(SteadyClock::duration(running->lastActivity.load()));
            if (stopRequested)
                end(Ended::Stopped);
            else if (idle >= idleLimit)
                end(Ended::TimedOut);
        } else if (SteadyClock::now() - endedAt >= limits.StopGrace) {
            // The socket is shut down, yet the worker waits for something no
            // shutdown reaches. It is left to finish on its own, with the
            // connection and the task's results, which it alone holds now.
            worker->Abandon();
            worker.reset();
            running->abandoned = true;
            link.reset();
            connected = false;
            throwEnded();
        }
    }
    try {
        worker->TakeResult();
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
    throwEnded();
}

} // namespace taskhaul::sftp
