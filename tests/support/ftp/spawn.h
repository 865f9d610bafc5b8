#pragma once

#include <string>
#include <vector>

namespace taskhaul::test {

// Starts `arguments[0]` (a path) with the arguments, standard output on
// `stdoutFd` when it is not negative; returns its process id. Throws
// std::runtime_error "Cannot start <program>: <reason>".
int Spawn(const std::vector<std::string>& arguments, int stdoutFd);

} // namespace taskhaul::test
