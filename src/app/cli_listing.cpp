#include "app/headless.h"

#include <cstdio>

namespace taskhaul {

int runParseListing(const QStringList&)
{
    std::fputs("This option is not available yet.\n", stderr);
    return 2;
}

} // namespace taskhaul
