#pragma once

#include <string>
#include <vector>

namespace taskhaul::test {

// Starts `arguments[0]` (a path) with the arguments, standard output on
// `stdoutFd` when it is not negative; returns its process id. Throws
// std::runtime_error "Cannot start <program>: <reason>".
int Spawn(const std::vector<std::string>& arguments, int stdoutFd);

// A child process started with arguments; it prints the port it listens on as
// its first line. Stopped (SIGTERM, then SIGKILL) when destroyed.
class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Returns the port the process printed.
    int Start(const std::string& program, const std::vector<std::string>& arguments);
    void Stop();

private:
    int pid_ = -1;
};

} // namespace taskhaul::test
