#include "app/headless.h"

#include <cstdio>

namespace taskhaul {

int runHelp(const QStringList&)
{
    std::fputs(
        "Usage: taskhaul [-r] [-m]\n"
        "       taskhaul OPTION ...\n"
        "\n"
        "Downloads files from one FTP site into one local folder, on demand or on a schedule.\n"
        "\n"
        "Start-up switches (for this run only):\n"
        "  -r                 load the saved job and start the scheduler\n"
        "  -m                 start hidden in the notification area\n"
        "\n"
        "Options that need no display:\n"
        "  --help             show this text\n"
        "  --version          show the program's version\n",
        stdout);
    return 0;
}

int runVersion(const QStringList&)
{
    std::printf("Taskhaul %s\n", TASKHAUL_VERSION);
    return 0;
}

} // namespace taskhaul
