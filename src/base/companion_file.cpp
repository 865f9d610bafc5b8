#include "base/companion_file.h"

#include <climits>
#include <unistd.h>

namespace taskhaul::base {

std::string runningProgramFolder()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string self(path, static_cast<std::size_t>(length));
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash == 0 ? 1 : slash);
}

std::string companionFilePath(std::string_view fileName, const std::string& programFolder)
{
    if (programFolder.empty())
        return {};
    const std::string folder = programFolder.back() == '/' ? programFolder : programFolder + '/';
    const std::string beside = folder + std::string(fileName);
    if (::access(beside.c_str(), F_OK) == 0)
        return beside;
    return folder + "../libexec/taskhaul/" + std::string(fileName);
}

std::string companionFilePath(std::string_view fileName)
{
    return companionFilePath(fileName, runningProgramFolder());
}

} // namespace taskhaul::base
