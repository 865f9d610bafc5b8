#pragma once

#include "gui/recording_message_boxes.h"
#include "qstring_print.h"
#include "transfer/transfer_host.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace taskhaul::test {

// Stands in for the main window: keeps the fields, the status line and the flags,
// and records the log, the message boxes and every control change in order.
class FakeTransferHost : public TransferHost {
public:
    JobSettings settings;
    QString status;
    QStringList log;
    // Each write of the log: one line, or the lines the engine wrote together.
    QList<QStringList> logWrites;
    // Control changes, in order: "standby", "connected", "schedon", "stop on",
    // "stop off", "busy", "normal".
    QStringList controls;
    // Every value written to the sequence start field, in order.
    QList<int> sequenceWrites;
    RecordingMessageBoxes boxes;
    // Every host key fingerprint the engine had the job keep, in order.
    QStringList trustedHostKeys;
    LocalDateTime now { 2024, 3, 15, 10, 30, 0 };
    int focusRequests = 0;
    // Runs inside processPendingEvents (the window would run clicks here).
    std::function<void()> onPendingEvents;
    // Sees each log line before it is recorded; may throw as a failing log would.
    std::function<void(const QString&)> onLog;
    // Sees each status text as it is set.
    std::function<void(const QString&)> onStatus;

    JobSettings job() const override { return settings; }
    void setSequenceStart(int value) override
    {
        settings.sequenceStart = value;
        sequenceWrites << value;
    }
    void setLoginFields(const QString& userName, const QString& password) override
    {
        settings.userName = userName;
        settings.password = password;
    }
    void setTrustedCertificate(const QString& fingerprint) override
    {
        settings.trustedCertificate = fingerprint;
    }
    void setTrustedHostKey(const QString& fingerprint) override
    {
        settings.trustedHostKey = fingerprint;
        trustedHostKeys << fingerprint;
    }
    LocalDateTime currentTime() const override { return now; }
    void setStatusText(const QString& text) override
    {
        status = text;
        if (onStatus)
            onStatus(text);
    }
    void writeLog(const QString& text) override
    {
        if (onLog)
            onLog(text);
        log << text;
        logWrites << QStringList { text };
    }
    void writeLogLines(const QStringList& texts) override
    {
        for (const QString& text : texts) {
            if (onLog)
                onLog(text);
            log << text;
        }
        logWrites << texts;
    }
    MessageBoxes& messageBoxes() override { return boxes; }
    void controlsStandby() override { controls << QStringLiteral("standby"); }
    void controlsConnected() override { controls << QStringLiteral("connected"); }
    void controlsSchedon() override { controls << QStringLiteral("schedon"); }
    void setStopTransferEnabled(bool enabled) override
    {
        controls << (enabled ? QStringLiteral("stop on") : QStringLiteral("stop off"));
    }
    void focusHostField() override { ++focusRequests; }
    void setBusyCursor(bool busy) override
    {
        controls << (busy ? QStringLiteral("busy") : QStringLiteral("normal"));
    }
    void processPendingEvents() override
    {
        if (onPendingEvents)
            onPendingEvents();
    }
};

} // namespace taskhaul::test
