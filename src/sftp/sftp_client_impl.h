#pragma once

// The parts of TSftpClient shared by its source files.

#include "sftp/sftp_client.h"
#include "sftp/sftp_worker.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace taskhaul::sftp {

using SteadyClock = std::chrono::steady_clock;

// One connection: the SSH and SFTP sessions and their descriptors, and what
// the worker tells the caller's thread while a task runs. The client and the
// task on the worker share it, so that a worker given up on after a stop
// keeps it until its last library call has returned, and frees it then.
//
// Who closes which descriptor:
// - The connection's socket is handed to libssh (SSH_OPTIONS_FD) and, once
//   ssh_connect has taken it, is libssh's alone: libssh 0.10 closes it itself
//   as soon as the connection fails (a read or write error, the server's end
//   of file or its SSH_MSG_DISCONNECT, a failed key exchange), else at
//   ssh_free. From then on its number may be anything another thread opened,
//   so the client never shuts it down or closes it by number, and never calls
//   ssh_disconnect, which would forget it open. Whether ssh_connect took it
//   is told by libssh's connect-status callback, which it calls as soon as it
//   has (`taken`); a socket it never took is the client's to close.
// - `cutter` is a duplicate of that socket, the client's alone: it is what
//   Cut shuts down (a shutdown acts on the socket, whichever descriptor names
//   it). Closed once, in Close.
// - The ssh-agent's socket likewise: the client connects it and hands it to
//   libssh (ssh_set_agent_socket), which closes it at ssh_free and never
//   before, and keeps `agentCutter` to cut a sign-in that waits for the agent.
struct TLink {
    TLink() = default;
    ~TLink() { Close(); }
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    ssh_session session = nullptr;
    sftp_session sftp = nullptr;
    int handed = -1;
    std::atomic<bool> taken { false };
    int cutter = -1;
    int agentCutter = -1;
    ssh_callbacks_struct callbacks {};

    // Set by Cut, read by the worker between its waits.
    std::atomic<bool> cut { false };
    // Written by the worker: when the server last answered, and the bytes of
    // the running download.
    std::atomic<SteadyClock::rep> lastActivity { 0 };
    std::atomic<std::int64_t> received { 0 };
    std::atomic<std::int64_t> total { -1 };
    // Written by the worker during a connect, read once it has returned.
    TSftpHostKey hostKey;
    TSftpAuthMethod authenticatedBy = TSftpAuthMethod::None;
    // The caller's thread gave up waiting for the worker (see RunPumped):
    // nothing above may be read. Only that thread touches it.
    bool abandoned = false;

    void Touch() noexcept { lastActivity.store(SteadyClock::now().time_since_epoch().count()); }
    // Shuts the sockets down, so that any blocked call of the worker returns.
    void Cut() noexcept;
    // Frees the sessions and gives every descriptor back; no task may run.
    void Close() noexcept;
    [[noreturn]] void ThrowLost() const;
};

struct TSftpClient::Impl {
    PumpHandler pump;
    TSftpSettings settings;
    TSftpLimits limits;
    TSftpHostKey hostKey;
    TSftpAuthMethod authenticatedBy = TSftpAuthMethod::None;

    // The connection; touched by the worker only while a task runs.
    std::shared_ptr<TLink> link;
    bool connected = false;

    bool busy = false;
    std::atomic<bool> stopRequested { false };
    bool disconnectRequested = false;

    std::unique_ptr<TWorker> worker;

    // Runs `task` on the worker while this thread pumps. The task fails with
    // ESftpTimeout when the server is silent for `idleLimit` (measured from
    // the link's last Touch), with ESftpAborted on Stop. The task must own
    // what it touches (the link, its results): a worker that does not return
    // within Limits().StopGrace of a stop is left to finish on its own.
    void RunPumped(std::function<void()> task, std::chrono::milliseconds idleLimit, const char* timeoutText,
        const ProgressHandler& progress = {});
    // Frees the connection; no task may run.
    void Close() noexcept;
    void RequireConnected() const;
};

// Worker side of a connect: the handshake, the host key and the sign-in, on a
// copy of the settings (the pump may change them meanwhile).
void HandshakeAndLogin(TLink& link, const TSftpSettings& job, std::chrono::milliseconds connectLimit);

// Marks the client busy for the length of a public operation.
class TBusyScope {
public:
    explicit TBusyScope(bool& busy);
    ~TBusyScope() { busy_ = false; }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

private:
    bool& busy_;
};

} // namespace taskhaul::sftp
