// The window program, started by `taskhaul` in its place (window_launcher.h).
#include "app/gui_main.h"

int main(int argc, char** argv)
{
    return taskhaul::runGui(argc, argv);
}
