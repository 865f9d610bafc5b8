#pragma once

#include "scheduler/scheduler_host.h"
#include "transfer/transfer_engine.h"
#include "transfer/transfer_host.h"

namespace taskhaul {

// The run's steps as the transfer engine performs them for the window and for
// the headless runner.
class EngineRunSteps : public RunSteps {
public:
    EngineRunSteps(TransferEngine& engine, const TransferHost& host) : engine_(engine), host_(host) {}

    // A user's Connect or Transfer clears the unattended flag while it runs: a
    // tick nested inside it must leave its connection alone.
    bool busy() const override { return engine_.transferRunning() || !host_.unattended(); }
    void siteConnect() override { engine_.siteConnect(); }
    void changeFolder() override { engine_.changeFolder(); }
    void transfer(JobSettings::FileKind kind) override
    {
        if (kind == JobSettings::FileKind::AllFiles)
            engine_.transferAllFiles();
        else
            engine_.transferOneFile();
    }
    void disconnect() override { engine_.client().Disconnect(); }

private:
    TransferEngine& engine_;
    const TransferHost& host_;
};

} // namespace taskhaul
