#pragma once

#include "scheduler/scheduler_host.h"
#include "transfer/transfer_engine.h"

#include <functional>

namespace taskhaul {

// The run's steps as the transfer engine performs them for the window and for
// the headless runner.
class EngineRunSteps : public RunSteps {
public:
    // `clientBlocked` tells whether a call of the site is waiting right now
    // (a tick then arrives nested inside it, e.g. inside the user's Connect).
    explicit EngineRunSteps(TransferEngine& engine, std::function<bool()> clientBlocked = {})
        : engine_(engine)
        , clientBlocked_(std::move(clientBlocked))
    {
    }

    bool busy() const override { return engine_.busy() || (clientBlocked_ && clientBlocked_()); }
    void siteConnect() override
    {
        // No user command is running (or the run would be busy): whatever the
        // flag says, this run's failures go to the log and never to a message box.
        engine_.setUnattended(true);
        engine_.siteConnect();
    }
    void changeFolder() override { engine_.changeFolder(); }
    void transfer(JobSettings::FileKind kind) override
    {
        if (kind == JobSettings::FileKind::AllFiles)
            engine_.transferAllFiles();
        else
            engine_.transferOneFile();
    }
    void disconnect() override { engine_.disconnectSite(); }
    bool lostConnection() const override { return engine_.lastRun().lostConnection(); }
    std::vector<std::string> fetchedNames() const override { return engine_.lastRun().fetchedNames; }
    void leaveOut(std::vector<std::string> names) override { engine_.leaveOut(std::move(names)); }
    void useFolderRun(const LocalFolderRun* run) override { engine_.setFolderRun(run); }

private:
    TransferEngine& engine_;
    std::function<bool()> clientBlocked_;
};

} // namespace taskhaul
