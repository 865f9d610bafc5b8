#pragma once

// The inside of TFtpClient, shared by the two files of the front: the control
// side, login and settings (ftp_client.cpp), and the data transfers and
// listings (ftp_transfer.cpp). The work is done by the control connection
// (ftp_control.h), the data connection (ftp_data_connection.h), the login
// steps (ftp_login.h) and the local file of a download (ftp_local_file.h).
// Not for use outside src/ftp.

#include "base/scope_exit.h"
#include "ftp/ftp_client.h"
#include "ftp/ftp_control.h"
#include "ftp/ftp_data_connection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace taskhaul::ftp {

struct TFtpClient::Impl {
    Impl(TFtpClient& owner, PumpHandler pumpHandler);

    TFtpClient& self;
    const PumpHandler pump; // fixed for the client's life
    bool busy = false; // an operation is running (and waits, when the pump runs)

    // Marks an operation as running until the returned guard goes; raises
    // EFtpBusy when one runs already.
    [[nodiscard]] auto BeginOperation()
    {
        if (busy)
            throw EFtpBusy();
        busy = true;
        return base::ScopeExit { [this]() noexcept { busy = false; } };
    }

    // Settings.
    std::string host;
    int port = 21;
    std::string username;
    std::string password;
    bool autoLogin = true;
    bool passive = false;
    TFtpTransferType transferType = TFtpTransferType::ftBinary;
    int transferTimeout = 0;
    TFtpProxySettings proxy;
    TFtpLimits limits;
    TFtpSecurity security = TFtpSecurity::tlsPlain;
    std::string trustedFingerprint;
    TFtpCertificateInfo peerCertificate;

    // The handshake on the control connection; the certificate is kept also
    // when it is refused.
    void StartTls(const std::string& endpointHost);

    // Connections.
    TAbortRegistry abortRegistry;
    TControlConnection control;

    TFtpReply transferReply; // the final reply of the last confirmed transfer
    TFtpReply greeting;
    std::vector<std::string> capabilities;
    std::string systemDescription;

    // Transfers.
    bool transferring = false;
    bool abortRequested = false;
    std::vector<char> dataBuffer;
    std::optional<bool> restartSupported;
    std::string sizeName; // the last name asked with SIZE, and its answer
    std::int64_t sizeValue = -1;

    // Listing.
    std::vector<std::string> listingLines;
    TFtpReply listingReply;
    bool listingTruncated = false;
    bool listingUnclosed = false; // its TLS data connection ended without close_notify
    TFtpListItems parsed;
    bool parsedValid = false;
    std::string listingFormat;
    bool listingMachine = false; // taken with MLSD

    // Records the type and, when connected and no transfer runs, sends it.
    void SetTransferType(TFtpTransferType type);

    bool RestartSupported();

    struct DataPhase {
        bool accepted = false; // the server accepted the command (1xx reply)
        std::int64_t received = 0;
        std::optional<std::int64_t> announced; // from the reply to the command
        std::int64_t known = 0; // the size the client knew before it began (0: none)
        bool unclosed = false; // the TLS data connection ended without close_notify
    };

    // What a transfer whose TLS data connection ended without close_notify
    // does: fail with EUnclosedTransfer, or keep what arrived (a listing, which
    // is then marked as cut short).
    enum class Unclosed { Fail, Keep };

    // The way a data connection of this transfer reads: it stops when the
    // transfer is aborted or the control connection of `generation` is gone.
    TDataConnection::ReadOptions ReadOptionsFor(unsigned generation);

    void PassiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase);
    void ActiveTransfer(const std::string& command, TFtpOutputStream& stream, bool resume, DataPhase& phase);
    // Returns false when the data connection ended without close_notify and
    // `unclosed` is Keep.
    bool TransferData(const std::string& command, TFtpOutputStream& stream, bool resume,
        Unclosed unclosed = Unclosed::Fail);
    void RetrieveFile(
        const std::string& remoteName, const std::string& localPath, bool overwrite, bool resume);
    void ListFolder(std::vector<std::string>& lines, const std::string& specifier, bool details);
    // Sends `command` for listing data and keeps its lines (no type change).
    void ReceiveListing(const std::string& command);
};

} // namespace taskhaul::ftp
