#include "app/headless.h"

#include <cstdio>

namespace taskhaul {

int runOnce(const QStringList&)
{
    std::fputs("This option is not available yet.\n", stderr);
    return 2;
}

int runPreview(const QStringList&)
{
    std::fputs("This option is not available yet.\n", stderr);
    return 2;
}

} // namespace taskhaul
