#pragma once

namespace taskhaul {

// The main window's process-wide flags.
struct WindowFlags {
    // Set at every activation of the window; cleared by user-started Connect and
    // Transfer while they run. While set, failures are logged, never shown.
    bool unattended = false;
    // Set by Stop Transfer, acted on by the transfer loops.
    bool abortRequested = false;
    // The fields hold changes that were neither loaded nor saved.
    bool configChanged = false;
    // Start-up is applying the start-up options: changes are not marked.
    bool loadingOptions = false;
    // The icon menu's Exit asked the window to close: the close ends the program.
    bool exitRequested = false;
    // The first activation loads the job and starts the scheduler.
    bool autoStartPending = false;
    // An activation with Auto-load checked still has to load the job.
    bool autoLoadPending = true;
    // The first paint hides the window in the notification area.
    bool minimizePending = false;
};

} // namespace taskhaul
