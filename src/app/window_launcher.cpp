#include "app/window_launcher.h"

#include "base/companion_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace taskhaul {

namespace {

constexpr const char* kWindowProgramName = "taskhaul-window";

std::vector<std::string> windowProgramCandidates(const std::string& ownFolder)
{
    // TASKHAUL_WINDOW_FROM_BIN: the installed window program relative to the
    // installed `taskhaul` (both install folders are relative to the prefix),
    // or an absolute path when the libexec folder was given as one.
    const std::string installed = TASKHAUL_WINDOW_FROM_BIN;
    std::vector<std::string> candidates { ownFolder + "/" + kWindowProgramName };
    candidates.push_back(installed.starts_with('/') ? installed : ownFolder + "/" + installed);
    return candidates;
}

} // namespace

std::string windowProgramPath()
{
    for (const std::string& candidate : windowProgramCandidates(base::runningProgramFolder()))
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    return {};
}

int startWindowProgram(char** argv)
{
    const std::string program = windowProgramPath();
    if (program.empty()) {
        std::fprintf(stderr, "Cannot start the window: no %s beside this program nor in %s\n",
            kWindowProgramName, windowProgramCandidates(base::runningProgramFolder()).back().c_str());
        return 127;
    }
    ::execv(program.c_str(), argv);
    const int error = errno;
    std::fprintf(stderr, "Cannot start the window program %s: %s\n", program.c_str(), std::strerror(error));
    return 127;
}

} // namespace taskhaul
