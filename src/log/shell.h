#pragma once

#include <QString>
#include <QUrl>

#include <functional>

namespace taskhaul {

// The desktop's "open": documents and web addresses in the user's programs,
// folders in the file manager. The window uses DesktopShell; tests record.
class Shell {
public:
    enum class OpenResult {
        Opened,
        FileNotFound, // a local file that does not exist
        FolderNotFound, // the folder of a local file does not exist
        NoProgram, // nothing on the desktop could open it
    };

    virtual ~Shell() = default;
    // A local file (file: URL) or a web address, in the program the desktop
    // associates with it.
    virtual OpenResult open(const QUrl& url) = 0;
    // An existing folder, shown in the desktop's file manager: Opened, or
    // NoProgram when nothing on the desktop could show it.
    virtual OpenResult showFolder(const QString& path) = 0;
    // A web page (or another address a program of the desktop shows, such as
    // "man:taskhaul"). The desktop's opener may start and only later find that
    // nothing can show it (no browser): it then calls `failed`, once, on the
    // caller's thread. This fallback opens it as `open` does, and never calls.
    virtual OpenResult openAddress(const QUrl& url, std::function<void()> failed)
    {
        (void)failed;
        return open(url);
    }
};

} // namespace taskhaul
