#include "app/window_launcher.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits.h>
#include <unistd.h>

namespace taskhaul {

namespace {

constexpr const char* kWindowProgramName = "taskhaul-window";

std::string ownFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string self(path, static_cast<std::size_t>(length));
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash);
}

} // namespace

std::string windowProgramPath()
{
    const std::string beside = ownFolder() + "/" + kWindowProgramName;
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return TASKHAUL_WINDOW_PROGRAM;
}

int startWindowProgram(char** argv)
{
    const std::string program = windowProgramPath();
    ::execv(program.c_str(), argv);
    const int error = errno;
    std::fprintf(stderr, "Cannot start the window program %s: %s\n", program.c_str(), std::strerror(error));
    return 127;
}

} // namespace taskhaul
