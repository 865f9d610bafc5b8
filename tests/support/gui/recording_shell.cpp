#include "gui/recording_shell.h"

namespace taskhaul::test {

Shell::OpenResult RecordingShell::open(const QUrl& url)
{
    opened.push_back(url);
    return nextResult;
}

void RecordingShell::showFolder(const QString& path)
{
    foldersShown.push_back(path);
}

} // namespace taskhaul::test
