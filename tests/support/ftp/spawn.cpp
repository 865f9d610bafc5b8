#include "ftp/spawn.h"

#include <cstring>
#include <stdexcept>

#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace taskhaul::test {

int Spawn(const std::vector<std::string>& arguments, int stdoutFd)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error(std::string("Cannot start ") + argv[0] + ": " + std::strerror(error));
    return pid;
}

} // namespace taskhaul::test
