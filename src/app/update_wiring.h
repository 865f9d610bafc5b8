#pragma once

#include "ui/update_desktop_launcher.h"
#include "ui/update_status_windows.h"
#include "update/news_source.h"
#include "update/update_check_flow.h"
#include "update/web_update.h"

namespace taskhaul {

class MessageBoxes;

// Check for Updates as the main window offers it: the update component
// (WebUpdate1) set up for this program, its news source, the two status
// windows (created hidden now, kept for the whole run) and the flow that
// answers the component's events.
class UpdateWiring {
public:
    explicit UpdateWiring(MessageBoxes& boxes, const QString& site = update_site::kMakerSite);
    ~UpdateWiring();
    UpdateWiring(const UpdateWiring&) = delete;
    UpdateWiring& operator=(const UpdateWiring&) = delete;

    // Action16Execute: runs the check; a check already running makes it return at once.
    void Action16Execute();

    // ---- Test hooks: not for production code ----
    TWebUpdate& webUpdate() { return WebUpdate1_; }
    Tfrm_message& messageWindow() { return frm_message_; }
    Tfrm_download& downloadWindow() { return frm_download_; }

private:
    Tfrm_download frm_download_;
    Tfrm_message frm_message_;
    UpdateStatusDialogs windows_;
    DesktopInstallerLauncher launcher_;
    TWebUpdate WebUpdate1_;
    HttpNewsSource news_;
    UpdateCheckFlow flow_;
};

} // namespace taskhaul
