#include "app/headless.h"

#include <cstdio>

namespace taskhaul {

int runExpand(const QStringList&)
{
    std::fputs("This option is not available yet.\n", stderr);
    return 2;
}

int runMatch(const QStringList&)
{
    std::fputs("This option is not available yet.\n", stderr);
    return 2;
}

} // namespace taskhaul
