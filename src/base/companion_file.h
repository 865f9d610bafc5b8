#pragma once

#include <string>
#include <string_view>

namespace taskhaul::base {

// The files that come with the program (the window program, the keyring module)
// are found from where the running program is, never from a path fixed at build
// time: beside it (a build folder, or the programs installed in libexec), else
// in ../libexec/taskhaul/ (the command-line program installed in bin). Returns
// the first of the two that exists, else the second, so that a message names
// where the file was expected; an empty text when the running program cannot
// be located.
std::string companionFilePath(std::string_view fileName);

// The folder of the running program (/proc/self/exe); empty when it cannot be
// read.
std::string runningProgramFolder();

// The same, from the folder `programFolder` instead of the running program's.
std::string companionFilePath(std::string_view fileName, const std::string& programFolder);

} // namespace taskhaul::base
