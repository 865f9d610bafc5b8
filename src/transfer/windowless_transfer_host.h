#pragma once

#include "transfer/transfer_host.h"

#include <utility>

namespace taskhaul {

// The window's part in a transfer, played where there is no window: the job is
// held here, and controls, cursor and focus have nothing to show. Subclasses decide where log
// lines and message boxes go.
class WindowlessTransferHost : public TransferHost {
public:
    explicit WindowlessTransferHost(JobSettings job)
        : job_(std::move(job))
    {
    }

    JobSettings job() const override { return job_; }
    void setSequenceStart(int value) override { job_.sequenceStart = value; }
    void setLoginFields(const QString& userName, const QString& password) override
    {
        job_.userName = userName;
        job_.password = password;
    }
    void setTrustedCertificate(const QString& fingerprint) override { job_.trustedCertificate = fingerprint; }
    void setTrustedHostKey(const QString& fingerprint) override { job_.trustedHostKey = fingerprint; }
    LocalDateTime currentTime() const override { return CurrentLocalDateTime(); }
    // Nobody sees a status line here; the log says what happened.
    void setStatusText(const QString&) override { }
    void controlsStandby() override { }
    void controlsConnected() override { }
    void controlsSchedon() override { }
    void setStopTransferEnabled(bool) override { }
    void focusHostField() override { }
    void setBusyCursor(bool) override { }
    void processPendingEvents() override { }

protected:
    JobSettings job_;
};

} // namespace taskhaul
