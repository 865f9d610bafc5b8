#pragma once

namespace taskhaul {

// The main window's process-wide flags. (Whether a run is unattended and
// whether Stop Transfer was given are the transfer engine's.)
struct WindowFlags {
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
