#pragma once

#include "log/shell.h"

namespace taskhaul {

// Shell on QDesktopServices (xdg-open and friends). Addresses go to xdg-open
// itself, whose exit status tells whether anything could show them.
class DesktopShell : public Shell {
public:
    OpenResult open(const QUrl& url) override;
    OpenResult showFolder(const QString& path) override;
    OpenResult openAddress(const QUrl& url, std::function<void()> failed) override;
};

} // namespace taskhaul
