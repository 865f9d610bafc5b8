#pragma once

namespace taskhaul {

// Starts the windowed program: single-instance guard, main window, event loop.
int runGui(int argc, char** argv);

} // namespace taskhaul
