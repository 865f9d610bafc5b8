#include "gui/recording_shell.h"

namespace taskhaul::test {

Shell::OpenResult RecordingShell::open(const QUrl& url)
{
    opened.push_back(url);
    return nextResult;
}

Shell::OpenResult RecordingShell::openAddress(const QUrl& url, std::function<void()> failed)
{
    failLater = std::move(failed);
    return open(url);
}

Shell::OpenResult RecordingShell::showFolder(const QString& path)
{
    foldersShown.push_back(path);
    return nextResult;
}

} // namespace taskhaul::test
