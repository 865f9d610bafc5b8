#pragma once

#include "gui/recording_message_boxes.h"
#include "log/silent_stop.h"
#include "scheduler/scheduler_host.h"
#include "transfer/transfer_host.h"

#include <QStringList>

#include <functional>
#include <ostream>
#include <stdexcept>

namespace taskhaul::test {

// Stands in for the main window as both the scheduler and the transfer engine
// see it: keeps the job and the flags, and records everything shown, in order,
// in `events`: "log: <line>", "box: <text>", "hint: <text>", the control
// states "standby", "schedon" and "connected", and the steps of fake runs.
class FakeSchedulerHost : public SchedulerHost, public TransferHost {
public:
    enum class Controls { Standby, SchedulerOn, Connected };

    JobSettings settings;
    QStringList events;
    RecordingMessageBoxes boxes;
    Controls state = Controls::Standby;
    QString status;

    QStringList logLines() const
    {
        QStringList lines;
        for (const QString& event : events)
            if (event.startsWith(QLatin1String("log: ")))
                lines << event.mid(5);
        return lines;
    }

    // SchedulerHost and TransferHost
    JobSettings job() const override { return settings; }
    void writeLog(const QString& text) override { events << QStringLiteral("log: ") + text; }
    MessageBoxes& messageBoxes() override { return boxes; }
    void controlsStandby() override { setState(Controls::Standby, QStringLiteral("standby")); }
    void controlsSchedon() override { setState(Controls::SchedulerOn, QStringLiteral("schedon")); }
    void controlsConnected() override { setState(Controls::Connected, QStringLiteral("connected")); }

    // SchedulerHost
    void setDailyTime(const QTime& time) override { settings.dailyTime = time; }
    void setTrayHint(const QString& hint) override { events << QStringLiteral("hint: ") + hint; }
    bool startEnabled() const override { return state == Controls::Standby; }
    bool stopEnabled() const override { return state == Controls::SchedulerOn; }

    // TransferHost
    void setSequenceStart(int value) override { settings.sequenceStart = value; }
    void setLoginFields(const QString& userName, const QString& password) override
    {
        settings.userName = userName;
        settings.password = password;
    }
    LocalDateTime currentTime() const override { return LocalDateTime { 2024, 3, 15, 10, 30, 0 }; }
    void setStatusText(const QString& text) override { status = text; }
    void setStopTransferEnabled(bool) override { }
    void focusHostField() override { }
    void setBusyCursor(bool) override { }
    void processPendingEvents() override { }

private:
    void setState(Controls controls, const QString& name)
    {
        state = controls;
        events << name;
    }
};

// The steps of a run, recorded in the host's events ("connect", "folder",
// "transfer", "disconnect"); each can be given what it does, e.g. let time pass
// or fail as the engine would.
class FakeRunSteps : public RunSteps {
public:
    explicit FakeRunSteps(FakeSchedulerHost& host)
        : host_(host)
    {
    }

    std::function<void()> onConnect, onFolder, onTransfer, onDisconnect;
    bool userCommandRunning = false;

    bool busy() const override { return userCommandRunning; }
    void siteConnect() override { step(QStringLiteral("connect"), onConnect); }
    void changeFolder() override { step(QStringLiteral("folder"), onFolder); }
    void transfer(JobSettings::FileKind) override { step(QStringLiteral("transfer"), onTransfer); }
    void disconnect() override { step(QStringLiteral("disconnect"), onDisconnect); }

private:
    void step(const QString& name, const std::function<void()>& action)
    {
        host_.events << name;
        if (action)
            action();
    }

    FakeSchedulerHost& host_;
};

// A job that Start accepts: every site field and the local folder filled in.
inline JobSettings completeJob()
{
    JobSettings job;
    job.host = QStringLiteral("ftp.example.com");
    job.port = QStringLiteral("21");
    job.userName = QStringLiteral("alice");
    job.password = QStringLiteral("pw");
    job.localFolder = QStringLiteral("/tmp/in");
    job.fileKind = JobSettings::FileKind::AllFiles;
    return job;
}

} // namespace taskhaul::test

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
