#include "log/desktop_shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

namespace taskhaul {

Shell::OpenResult DesktopShell::open(const QUrl& url)
{
    // The desktop's launcher starts detached and reports nothing about the file,
    // so a missing local file is caught here.
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.exists())
            return file.dir().exists() ? OpenResult::FileNotFound : OpenResult::FolderNotFound;
    }
    return QDesktopServices::openUrl(url) ? OpenResult::Opened : OpenResult::NoProgram;
}

Shell::OpenResult DesktopShell::showFolder(const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? OpenResult::Opened : OpenResult::NoProgram;
}

} // namespace taskhaul
