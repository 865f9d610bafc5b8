#include "app/gui_main.h"
#include "app/headless.h"

int main(int argc, char** argv)
{
    if (const auto code = taskhaul::runHeadless(argc, argv))
        return *code;
    return taskhaul::runGui(argc, argv);
}
