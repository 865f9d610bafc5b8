#pragma once

#include "ftp/ftp_client.h"
#include "site/protocol_sites.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_host.h"

namespace taskhaul {

class TransferWindowRole;

// The transfer engine of the window program: its sites (FTP through the one
// FTP client, FtpClient1, and SFTP), whose waits let the window's events run,
// and the engine. The program's main builds it once and hands it to the window,
// which attaches itself: from then on the engine reads the window's fields and
// reports through its status line, log, message boxes and controls. Nothing
// runs before the window is attached.
class TransferWiring : private TransferHost {
public:
    TransferWiring();
    // The window the engine reports to, for as long as it exists.
    void attach(TransferWindowRole& window) { window_ = &window; }
    // The window is going (those who listen to the engine's announcements stop
    // listening themselves).
    void detach();
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

    TransferWindowRole* window_ = nullptr;
    ftp::TFtpClient FtpClient1_; // declared before the engine: it outlives it
    // The engine's sites: FTP through FtpClient1, SFTP made when a job needs it.
    ProtocolSites sites_;
    TransferEngine engine_;
};

} // namespace taskhaul
