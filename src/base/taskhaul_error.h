#pragma once

// The root of the program's error classes. Every error carries the exact text
// the user reads (in the activity log or a message box), composed where the
// error is raised; `what()` returns it.

#include <stdexcept>

namespace taskhaul {

class TaskhaulError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace taskhaul
