#pragma once

// TSftpClient: downloads from an SSH server's SFTP subsystem (protocol version
// 3, as OpenSSH serves it), with host keys checked as OpenSSH users expect.
//
// The caller's thread never blocks for more than Limits().PumpInterval
// without calling the pump given at construction. The SSH session itself runs
// blocking on a worker thread that the client owns; the caller's thread waits
// for it in slices, pumps between them and reports progress from there, so
// every callback runs on the caller's thread. Stop (from the pump) or a
// limit that runs out shuts the socket down under the worker, which makes the
// library's blocked call return at once: the operation ends within one pump
// interval plus the worker's unwinding (Limits().StopGrace at most), and the
// connection is closed.
//
// From inside the pump only Stop, Disconnect, IsConnected, IsBusy and the
// getters may be called; any other operation raises ESftpBusy.

#include "sftp/sftp_errors.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace taskhaul::sftp {

// Time and size limits. The defaults are the product's values; tests shorten them.
struct TSftpLimits {
    // TCP connect, SSH handshake, host key check and authentication together.
    std::chrono::milliseconds ConnectTimeout { 120000 };
    // A request (stat, open, the next names of a folder) without an answer.
    std::chrono::milliseconds ReplyTimeout { 120000 };
    // A download that brings no byte for this long.
    std::chrono::milliseconds DataIdleTimeout { 300000 };
    // The longest single wait between two calls of the pump.
    std::chrono::milliseconds PumpInterval { 50 };
    // How long an operation that was stopped or ran out of time waits, still
    // pumping, for the worker to return from the SSH library once the socket
    // is shut down under it (it returns at once, unless it waits for
    // something no shutdown reaches, such as a key file on a hung network
    // file system); after that it is left to finish on its own.
    std::chrono::milliseconds StopGrace { 500 };
    // A folder with more entries fails (its names are held in memory).
    std::size_t MaxListingEntries { 1000000 };
    // Pipelined reads: this many requests of this size in flight, as
    // OpenSSH's client keeps them.
    std::uint32_t ReadRequestSize { 32768 };
    int ReadRequestsInFlight { 64 };
};

struct TSftpSettings {
    std::string Host;
    int Port = 22;
    std::string Username;
    // Answers password and keyboard-interactive authentication; empty: neither is tried.
    std::string Password;
    // A private key file (OpenSSH or PEM format) and its passphrase; empty: none.
    std::string KeyFile;
    std::string KeyPassphrase;
    // The ssh-agent's socket. Unset: $SSH_AUTH_SOCK; empty: no agent.
    std::optional<std::string> AgentSocket;
    // Read only, never written. Empty: ~/.ssh/known_hosts.
    std::string KnownHostsPath;
    // A host key the user accepted, "SHA256:" and base64 as OpenSSH shows it; empty: none.
    std::string TrustedHostKey;
};

enum class TSftpAuthMethod { None, Agent, KeyFile, KeyboardInteractive, Password };

// How the log names a method: "public key from the agent", "key file", ...
std::string AuthMethodName(TSftpAuthMethod method);

// The server's host key as the last Connect saw it.
struct TSftpHostKey {
    // Revoked: known_hosts marks the key "@revoked"; it is refused whatever
    // else vouches for it.
    enum class Status { Known, Trusted, Unknown, Changed, Revoked };
    std::string Type;
    std::string Fingerprint;
    Status Verdict = Status::Unknown;
};

// Unknown: the server gave neither the entry's permissions nor its type.
enum class TSftpEntryKind { File, Folder, Link, Other, Unknown };

using TSftpTime = std::chrono::sys_seconds;

struct TSftpEntry {
    std::string Name; // the server's bytes
    TSftpEntryKind Kind = TSftpEntryKind::Other;
    std::int64_t Size = -1; // -1: not reported
    std::optional<TSftpTime> Modified; // UTC, to the second
};

struct TSftpFileFacts {
    TSftpEntryKind Kind = TSftpEntryKind::Other;
    std::int64_t Size = -1;
    std::optional<TSftpTime> Modified;
};

struct TSftpDownloadOptions {
    // Put the file in place of an existing one (else ESftpLocalFileError).
    bool Overwrite = true;
    // Give the local file the remote file's modification time.
    bool KeepModifiedTime = false;
};

class TSftpClient {
public:
    using PumpHandler = std::function<void()>;
    // Bytes received so far and the size the server reported at open (-1: none).
    using ProgressHandler = std::function<void(std::int64_t received, std::int64_t total)>;

    explicit TSftpClient(PumpHandler pump = {});
    ~TSftpClient();
    TSftpClient(const TSftpClient&) = delete;
    TSftpClient& operator=(const TSftpClient&) = delete;

    // Read at the next Connect.
    TSftpSettings& Settings() noexcept;
    const TSftpLimits& Limits() const noexcept;
    void SetLimits(const TSftpLimits& limits);

    ProgressHandler OnProgress;

    // Connects, checks the host key, authenticates and opens the SFTP
    // subsystem. Raises ESftpConnectionError (ESftpTimeout), ESftpHostKeyUnknown,
    // ESftpHostKeyChanged, ESftpHostKeyRevoked, ESftpAuthError or ESftpAborted;
    // the connection is closed on every failure.
    void Connect();
    void Disconnect();
    bool IsConnected() const noexcept;
    bool IsBusy() const noexcept;
    // Ends the running operation with ESftpAborted and closes the connection;
    // does nothing when no operation runs.
    void Stop() noexcept;

    const TSftpHostKey& HostKey() const noexcept;
    // The method that signed in at the last successful Connect.
    TSftpAuthMethod AuthenticatedBy() const noexcept;

    // The entries of a folder, without "." and "..". Kinds come from the
    // server's directory read, which does not follow links.
    std::vector<TSftpEntry> ListFolder(const std::string& path);
    // Size and time of a file, following links.
    TSftpFileFacts Stat(const std::string& path);
    // Downloads into a temporary file beside `localPath` and puts it in place
    // once every byte up to the server's end of file has arrived; on any
    // failure the temporary is removed and `localPath` stays as it was.
    // Returns the facts the server gave at open.
    TSftpFileFacts Download(const std::string& remotePath, const std::string& localPath,
        const TSftpDownloadOptions& options = {});

    // The state the client's source files share (sftp_client_impl.h).
    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace taskhaul::sftp
