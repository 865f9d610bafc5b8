#pragma once

#include "ftp/ftp_client.h"
#include "site/protocol_sites.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_host.h"

namespace taskhaul {

class TransferWindowRole;

// The transfer engine as the main window offers it: the window's one FTP client
// (FtpClient1), whose waits let the window's events run, and the engine that
// reads the window's fields and reports through its status line, log, message
// boxes and controls.
class TransferWiring : private TransferHost {
public:
    explicit TransferWiring(TransferWindowRole& window);
    ~TransferWiring() override;
    TransferWiring(const TransferWiring&) = delete;
    TransferWiring& operator=(const TransferWiring&) = delete;

    TransferEngine& engine() { return engine_; }
    ftp::TFtpClient& client() { return FtpClient1_; }
    // The window's side of the engine, for other parts that drive it.
    TransferHost& host() { return *this; }

private:
    // TransferHost
    JobSettings job() const override;
    void setSequenceStart(int value) override;
    void setLoginFields(const QString& userName, const QString& password) override;
    void setTrustedCertificate(const QString& fingerprint) override;
    void setTrustedHostKey(const QString& fingerprint) override;
    LocalDateTime currentTime() const override;
    void setStatusText(const QString& text) override;
    void writeLog(const QString& text) override;
    void writeLogLines(const QStringList& texts) override;
    MessageBoxes& messageBoxes() override;
    void controlsStandby() override;
    void controlsConnected() override;
    void controlsSchedon() override;
    void controlsBusy() override;
    void setStopTransferEnabled(bool enabled) override;
    void focusHostField() override;
    void setBusyCursor(bool busy) override;
    void processPendingEvents() override;

    TransferWindowRole& window_;
    ftp::TFtpClient FtpClient1_; // declared before the engine: it outlives it
    // The engine's sites: FTP through FtpClient1, SFTP made when a job needs it.
    ProtocolSites sites_;
    TransferEngine engine_;
};

} // namespace taskhaul
