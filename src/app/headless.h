#pragma once

#include <QStringList>

#include <cstdio>
#include <optional>

namespace taskhaul {

// Options that work from a shell without a display, the log or the settings
// (except --run-once, which uses the saved job and the log as a scheduled run does).
// Returns the exit code when the command line asks for one of them; nothing when
// the program should start its window as usual.
std::optional<int> runHeadless(int argc, char** argv);

// A command line for the window whose words include an option (a word
// beginning with "--") that the window does not take: a typo such as
// "--run-onse" in a cron line. Says so on standard error with the usage and
// returns the exit status 2; nothing when the window may start. The start-up
// switches ignore every other word.
std::optional<int> refuseWindowOptions(int argc, char** argv);

// The text of --help.
void printUsage(std::FILE* stream);

// One handler per headless option, each in its own file. `args` holds the words
// after the option itself.
int runHelp(const QStringList& args);
int runVersion(const QStringList& args);
int runExpand(const QStringList& args);
int runMatch(const QStringList& args);
int runParseListing(const QStringList& args);
int runOnce(const QStringList& args);
int runPreview(const QStringList& args);
int runSystemdTimer(const QStringList& args);

} // namespace taskhaul
