#pragma once

#include <QIcon>

namespace taskhaul {

// The program's picture: window, notification area and About window.
QIcon programIcon();

} // namespace taskhaul
