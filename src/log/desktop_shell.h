#pragma once

#include "log/shell.h"

namespace taskhaul {

// Shell on QDesktopServices (xdg-open and friends).
class DesktopShell : public Shell {
public:
    OpenResult open(const QUrl& url) override;
    OpenResult showFolder(const QString& path) override;
};

} // namespace taskhaul
