#pragma once

#include <functional>

namespace taskhaul {

class MessageBoxes;

// Runs one entry point of the program (a command, a field handler, a timer
// tick, a notification) so that no error crosses Qt's event loop: a silent stop
// ends it quietly; any other error is shown in an error box captioned
// "Taskhaul" with the error's text, and the program goes on. Returns whether
// `body` ran to its end.
bool runGuarded(MessageBoxes& boxes, const std::function<void()>& body);

} // namespace taskhaul
