#pragma once

// The parts of TSftpClient shared by its source files.

#include "sftp/sftp_client.h"
#include "sftp/sftp_worker.h"

#include <libssh/libssh.h>
#include <libssh/sftp.h>

#include <atomic>
#include <chrono>
#include <string>

namespace taskhaul::sftp {

using SteadyClock = std::chrono::steady_clock;

struct TSftpClient::Impl {
    PumpHandler pump;
    TSftpSettings settings;
    TSftpLimits limits;
    TSftpHostKey hostKey;
    TSftpAuthMethod authenticatedBy = TSftpAuthMethod::None;

    // Touched by the worker only while a task runs, by the owner otherwise.
    ssh_session session = nullptr;
    sftp_session sftp = nullptr;
    // The connection's socket, handed to the session but still ours to close;
    // also what is shut down under a blocked worker.
    int socket = -1;

    bool busy = false;
    std::atomic<bool> stopRequested { false };
    bool disconnectRequested = false;
    // Written by the worker: when the server last answered, and the bytes of
    // the running download.
    std::atomic<SteadyClock::rep> lastActivity { 0 };
    std::atomic<std::int64_t> received { 0 };
    std::atomic<std::int64_t> total { -1 };

    TWorker worker;

    void Touch() noexcept { lastActivity.store(SteadyClock::now().time_since_epoch().count()); }
    // Runs `task` on the worker while this thread pumps. The task fails with
    // ESftpTimeout when the server is silent for `idleLimit` (measured from
    // the last Touch), with ESftpAborted on Stop.
    void RunPumped(const std::function<void()>& task, std::chrono::milliseconds idleLimit,
        const char* timeoutText, const ProgressHandler& progress = {});
    // Shuts the socket down so that any blocked call of the worker returns.
    void Cut() noexcept;
    // Frees the session; the worker must be idle.
    void Close() noexcept;
    void RequireConnected() const;

    // Worker side. What the worker reads of the settings and limits is a copy
    // taken when the operation starts: the pump may change them meanwhile.
    void HandshakeAndLogin(const TSftpSettings& job);
    [[noreturn]] void ThrowLost() const;
};

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
