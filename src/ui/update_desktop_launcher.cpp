#include "ui/update_desktop_launcher.h"

#include <QDesktopServices>
#include <QUrl>

namespace taskhaul {

bool DesktopInstallerLauncher::start(const QString& path, const QString& /*parameters*/)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace taskhaul
