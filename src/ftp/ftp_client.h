#pragma once

// TFtpClient: the client side of RFC 959 as Taskhaul needs it. One long-lived
// object; the caller fills in the settings before every Connect.
//
// Every operation blocks, but never for more than 50 ms at a time without calling
// the pump callback given at construction (the application points it at its
// event processing), and the pump runs after every socket write too. Code run by
// the pump may call back into the client, but only in these ways:
// AbortTransfer (meant for a running retrieval or Connect), Disconnect (ends the
// running operation, which fails with ENotConnected), IsConnected, IsBusy, the
// getters and the settings that send nothing. Starting any other operation while
// one waits fails with EFtpBusy ("Another FTP operation is in progress.").
//
// Failures are exceptions derived from EFtpException (ftp_errors.h); the client
// never shows anything itself.

#include "ftp/ftp_errors.h"
#include "ftp/ftp_local_file.h"
#include "ftp/ftp_reply.h"
#include "ftp/ftp_security.h"
#include "ftp/ftp_stream.h"
#include "ftp/listing/list_item.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace taskhaul::ftp {

// Login schemes through an FTP proxy; the ordinal values are stored by the settings.
enum class TFtpProxyType : int {
    fpcmNone = 0,
    fpcmUserSite = 1,
    fpcmSite = 2,
    fpcmOpen = 3,
    fpcmUserPass = 4,
    fpcmTransparent = 5,
};

enum class TFtpTransferType { ftASCII, ftBinary };

enum class TWorkMode { wmRead, wmWrite };

struct TFtpProxySettings {
    TFtpProxyType ProxyType = TFtpProxyType::fpcmNone;
    std::string Host;
    int Port = 0;
    std::string UserName;
    std::string Password;
};

// Time limits of the client. The defaults are the product's values; tests shorten them.
struct TFtpLimits {
    // TCP connect of the control and passive data connections.
    std::chrono::milliseconds ConnectTimeout { 120000 };
    // A reply that has not been completed in this time fails with "Read Timeout".
    std::chrono::milliseconds ReplyTimeout { 120000 };
    // Active mode: the server must connect to our listener within this time.
    std::chrono::milliseconds AcceptTimeout { 60000 };
    // A data connection that brings no byte for this long fails with "Read Timeout"
    // (applies when TransferTimeout is 0; a non-zero TransferTimeout takes precedence).
    std::chrono::milliseconds DataIdleTimeout { 300000 };
    // The longest single wait between two calls of the pump.
    std::chrono::milliseconds PumpInterval { 50 };
    // The most listing data ListFolder keeps in memory; a server that sends more
    // makes the listing fail with EListingTooLong.
    std::size_t MaxListingBytes { 64 * 1024 * 1024 };
    // The free space RetrieveFile leaves on the local file system.
    TDiskReserve DiskReserve;
};

class TFtpClient {
public:
    // Callbacks. The sender of the original design is implied: notifications come
    // from this client (or its data connection during a transfer).
    using DisconnectedHandler = std::function<void(TFtpClient& sender)>;
    using WorkBeginHandler = std::function<void(TWorkMode mode, std::int64_t countMax)>;
    using WorkHandler = std::function<void(TWorkMode mode, std::int64_t count)>;
    using WorkEndHandler = std::function<void(TWorkMode mode)>;
    using PumpHandler = std::function<void()>;
    // "Today" for the year inference of listing parsers.
    using ClockHandler = std::function<ListDateTime()>;

    // `pump` is called after every wait of at most Limits().PumpInterval and
    // after every write, for the client's whole life.
    explicit TFtpClient(PumpHandler pump = {});
    ~TFtpClient();
    TFtpClient(const TFtpClient&) = delete;
    TFtpClient& operator=(const TFtpClient&) = delete;

    // ---- Settings (survive disconnects) ----
    const std::string& Host() const noexcept;
    void SetHost(std::string host);
    int Port() const noexcept; // default 21
    void SetPort(int port);
    const std::string& Username() const noexcept;
    void SetUsername(std::string user);
    const std::string& Password() const noexcept;
    void SetPassword(std::string password);
    bool AutoLogin() const noexcept; // default true
    void SetAutoLogin(bool autoLogin);
    bool Passive() const noexcept; // default false; takes effect at the next transfer
    void SetPassive(bool passive);
    TFtpTransferType TransferType() const noexcept; // default ftBinary
    // Records the type and, when connected, sends "TYPE A" or "TYPE I" (allowed 200).
    // Does nothing when the type is unchanged or while a transfer runs; sending
    // it while another operation waits fails with EFtpBusy.
    void SetTransferType(TFtpTransferType type);
    int TransferTimeout() const noexcept; // ms, 0 = the DataIdleTimeout limit only
    void SetTransferTimeout(int milliseconds);
    TFtpProxySettings& ProxySettings() noexcept;
    const TFtpProxySettings& ProxySettings() const noexcept;
    // FTP over TLS. With tlsExplicit, Connect sends "AUTH TLS" after the greeting
    // (anything but 234 fails the connect with ETlsError; there is no fall-back
    // to clear text), runs the handshake, logs in, then sends "PBSZ 0" and
    // "PROT P" (allowed 200); with tlsImplicit the handshake comes first. No
    // password is sent before the handshake and the certificate check succeeded.
    // Data connections take up the control connection's TLS session and end
    // with close_notify. TLS is to the host the control connection goes to: the
    // proxy host when a proxy is set. Every proxy scheme then signs on inside
    // that TLS session (its certificate must name the proxy host, and the proxy
    // must speak TLS itself, on the control and the data connections); the leg
    // from the proxy to the target is the proxy's business. Default tlsPlain:
    // nothing changes.
    TFtpSecurity Security() const noexcept;
    void SetSecurity(TFtpSecurity security);
    // The SHA-256 fingerprint the user trusts (64 hex digits, ":" and blanks
    // allowed; empty: none). A certificate with this fingerprint is accepted
    // even when its chain does not verify; any other certificate then fails
    // with ECertificateError "The server's certificate has changed. ...".
    const std::string& TrustedFingerprint() const noexcept;
    void SetTrustedFingerprint(std::string fingerprint);
    // The server's certificate as the last TLS Connect saw it, also when it was
    // refused; empty after a clear-text Connect.
    const TFtpCertificateInfo& PeerCertificate() const noexcept;
    const TFtpLimits& Limits() const noexcept;
    void SetLimits(const TFtpLimits& limits);

    // ---- Events ----
    DisconnectedHandler OnDisconnected;
    WorkBeginHandler OnWorkBegin;
    WorkHandler OnWork;
    WorkEndHandler OnWorkEnd;
    // Defaults to the local calendar date and time of the machine.
    ClockHandler Clock;

    // ---- Connection state ----
    const TFtpReply& LastReply() const noexcept;
    const TFtpReply& Greeting() const noexcept;
    const std::vector<std::string>& Capabilities() const noexcept;
    const std::string& SystemDescription() const noexcept;
    // True while an operation waits (inside the pump, that is).
    bool IsBusy() const noexcept;

    // ---- Control connection ----
    // Opens the control connection, reads the greeting and, with AutoLogin, logs in
    // (directly or by the proxy scheme) and sends FEAT, TYPE, SYST and, for some
    // servers, SITE ZONE. On any failure the connection is closed and the error raised.
    // AbortTransfer called from the pump while Connect waits (name resolution, TCP
    // connect, greeting, login replies) ends it within one pump interval with
    // EOperationAborted, Disconnect with ENotConnected; the socket is closed either
    // way, and OnDisconnected fires only when it had been opened. Calling Connect
    // again while one runs raises EFtpBusy.
    void Connect();
    // Closes the control socket without sending anything. Fires OnDisconnected only
    // when the socket was still open (not closed by the server meanwhile).
    void Disconnect();
    // True while the control socket is open and the server has not closed it.
    bool IsConnected();
    // Sends the command line and reads its reply; an empty list accepts every code.
    int SendCommand(const std::string& command, std::initializer_list<int> allowed = {});
    int SendCommand(const std::string& command, const std::vector<int>& allowed);
    int ReadReply(std::initializer_list<int> allowed = {});
    int ReadReply(const std::vector<int>& allowed);
    // Writes the line and CR LF without reading a reply.
    void WriteCommandLine(const std::string& text);
    // "CWD <folder>", allowed 200 and 250.
    void ChangeDirectory(const std::string& folder);
    bool IsFeatureSupported(const std::string& feature) const;

    // ---- Data connection and retrieval ----
    // The size the server reports for the file, or -1 (no error) when it reports none.
    std::int64_t FileSize(const std::string& remoteName);
    // Takes `size` (known from a listing) as the answer SIZE would give for the
    // file, without asking: its retrieval is checked against it all the same.
    void ExpectSize(const std::string& remoteName, std::int64_t size);
    // Downloads into a temporary file beside the local path and renames it over the
    // local path only once the server has confirmed the transfer. On any failure the
    // local path is left as it was.
    void RetrieveFile(
        const std::string& remoteName, const std::string& localPath, bool overwrite, bool resume = false);
    void RetrieveToStream(const std::string& remoteName, TFtpOutputStream& stream, bool resume = false);
    void RetrieveToStream(const std::string& remoteName, std::ostream& stream, bool resume = false);
    // The data-transfer procedure shared by retrieval and listing. Succeeds only
    // when the server's final reply is 226 or 250; any other (426, 450, 451, 550 ...)
    // fails with the server's text, even when every byte arrived. A size the
    // server announced that was not met fails with EIncompleteTransfer; a TLS
    // data connection that ended without close_notify fails with
    // EUnclosedTransfer, whatever the final reply.
    void TransferData(const std::string& command, TFtpOutputStream& stream, bool resume = false);
    // Writes "ABOR" and drops the data connection; never waits. Safe to call from
    // inside the pump during a transfer; the transfer then fails with EOperationAborted.
    // During Connect it sends nothing and ends the Connect (see there).
    void AbortTransfer();
    // Ends whatever the client waits for now, without a word to the server: the
    // connections are shut down (not closed, so the waiting call unwinds
    // safely) and the call fails, EOperationAborted for a transfer or a
    // Connect, a connection error otherwise; the connection is lost. For a
    // stop that cannot wait for a server that may no longer answer (ABOR's
    // reply included). Safe to call from inside the pump; never throws.
    void Interrupt() noexcept;

    // ---- Listings ----
    // Lists the current remote folder ("LIST", or "NLST" without details, plus the
    // specifier), switching to TYPE A for the listing and restoring the type after
    // it, also on failure. The lines are kept (ListingLines) and copied into `lines`.
    // More than Limits().MaxListingBytes of data fails with EListingTooLong
    // ("Listing too long."): the data connection is dropped at once, the data
    // received is freed, the previous listing stays, and the connection stays
    // usable (the server's answer to the broken transfer is taken in before the
    // next command).
    void ListFolder(std::vector<std::string>& lines, const std::string& specifier = {}, bool details = true);
    // Lists the current remote folder with "MLSD" (RFC 3659): one line of facts
    // per entry (type, size, modify time in UTC to the second) and the exact
    // name. The transfer type stays as it is: MLSD data does not depend on it.
    // Otherwise as ListFolder; a server that refuses MLSD fails with its reply
    // (EFtpReplyError), the previous listing staying.
    void ListFolderMachine(std::vector<std::string>& lines);
    // Whether the last listing was taken with MLSD.
    bool ListingIsMachine() const noexcept;
    const std::vector<std::string>& ListingLines() const noexcept;
    // The server's final reply to the last successful ListFolder (empty before
    // any, and after a failed one). LastReply() holds the answer to the TYPE
    // command that followed it.
    const TFtpReply& ListingReply() const noexcept;
    // True when the server cut the listing short: some line of the final reply
    // contains "truncated" in any case (pure-ftpd: "226 Output truncated to
    // 10000 matches"), or its TLS data connection ended without close_notify
    // (the lines then end at the last complete one). The lines then hold only
    // part of the folder.
    bool ListingTruncated() const noexcept;
    // Why, for a message: the final reply's text, or "the data connection ended
    // without a TLS close."; empty when the listing is whole.
    std::string ListingTruncation() const;
    // The items of the last listing, parsed on first use after ListFolder. A parse
    // error propagates once; the items made before it stay.
    TFtpListItems& ParsedListing();
    // The ident of the parser chosen for the last listing (empty when none accepted).
    const std::string& ListingFormat() const noexcept;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace taskhaul::ftp
