#pragma once

#include <exception>

namespace taskhaul {

// Raised after a failure has already been reported (logged or shown): it unwinds
// the current command or timer event to the event loop without another message.
class SilentStop : public std::exception {
public:
    const char* what() const noexcept override { return "silent stop"; }
};

} // namespace taskhaul
