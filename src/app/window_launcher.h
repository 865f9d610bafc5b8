#pragma once

#include <string>

namespace taskhaul {

// The window is a program of its own: `taskhaul` without a command-line option
// becomes that program (exec), keeping its process id, arguments and
// environment. A headless run therefore never loads the graphical libraries.

// Where the window program is: beside this program (a build folder, or a copy
// kept together), else where an installation under any prefix puts it
// (../libexec/taskhaul/ from bin/). The installed layout is found from the
// program's own place, never from a path fixed when the build was configured,
// so a package installed under /usr finds it as a build for /usr/local does.
// Empty when neither exists.
std::string windowProgramPath();

// Replaces this process with the window program; returns only when that
// failed, with the exit status to end with (after saying why on stderr).
int startWindowProgram(char** argv);

} // namespace taskhaul
