#include "app/headless.h"
#include "app/window_launcher.h"

#include <string_view>

int main(int argc, char** argv)
{
    if (const auto code = taskhaul::runHeadless(argc, argv))
        return *code;
    // "-h" among the start-up switches asks for the help, as "--help" does: it
    // needs no display and no free instance lock, so it comes before the window.
    for (int index = 1; index < argc; ++index)
        if (std::string_view(argv[index]) == "-h")
            return taskhaul::runHelp({});
    // An option the window does not take is a mistake, never a window: where
    // there is a display it would open one, where there is none it could not.
    if (const auto code = taskhaul::refuseWindowOptions(argc, argv))
        return *code;
    return taskhaul::startWindowProgram(argv);
}
