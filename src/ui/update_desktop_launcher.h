#pragma once

#include "update/web_update.h"

namespace taskhaul {

// Starts the installer with the desktop's "open" of the downloaded file. The
// desktop passes no command-line parameters to what it opens, so the page's
// run parameters are not used.
class DesktopInstallerLauncher : public InstallerLauncher {
public:
    bool start(const QString& path, const QString& parameters) override;
};

} // namespace taskhaul
