#include "app/headless.h"

#include <cstdio>

namespace taskhaul {

void printUsage(std::FILE* stream)
{
    std::fputs("Usage: taskhaul [-r] [-m]\n"
               "       taskhaul OPTION ...\n"
               "\n"
               "Downloads files from one FTP, FTPS or SFTP site into one local folder, on demand or\n"
               "on a schedule.\n"
               "\n"
               "Start-up switches (for this run only; other words are ignored, but a word beginning\n"
               "with -- must be one of the options below, as the first word):\n"
               "  -r                  load the saved job and start the scheduler\n"
               "  -m                  start hidden in the notification area\n"
               "  -h                  show this text, as --help does\n"
               "\n"
               "Options that need no display (one of them, as the first word):\n"
               "  --help              show this text\n"
               "  --version           show the program's version\n"
               "  --expand TEMPLATE [--at \"YYYY-MM-DD HH:MM:SS\"] [--seq N]\n"
               "                      print the file name TEMPLATE gives at that local moment\n"
               "                      (default: now) with sequence number N (default: 0)\n"
               "  --match PATTERN NAME...\n"
               "                      print \"match\" or \"no match\", a tab and the name, for each\n"
               "                      NAME compared with PATTERN as a transfer does (case ignored)\n"
               "  --parse-listing FILE [--syst TEXT]\n"
               "                      parse a saved directory listing (SYST reply TEXT) and print\n"
               "                      each entry's name, kind, size and date\n"
               "  --run-once          run the saved job once, as a scheduled run does, and print\n"
               "                      its log lines\n"
               "  --preview           connect with the saved job, list the remote folder and show\n"
               "                      which files a run would fetch; nothing is downloaded\n"
               "  --systemd-timer [--install]\n"
               "                      print a systemd user service and timer that run the saved\n"
               "                      job on its schedule; --install writes them to\n"
               "                      ~/.config/systemd/user\n",
        stream);
}

int runHelp(const QStringList&)
{
    printUsage(stdout);
    return 0;
}

int runVersion(const QStringList&)
{
    std::printf("Taskhaul %s\n", TASKHAUL_VERSION);
    return 0;
}

} // namespace taskhaul
