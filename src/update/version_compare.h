#pragma once

#include "update/web_update_types.h"

namespace taskhaul {

// True when `published` is a newer version than `installed` under `format`.
// vfStandard compares the dot-separated parts as whole numbers from the left
// (a part that is not a number counts as 0, a missing part as 0, so 1.2 and
// 1.2.0 are the same version); vfString compares character codes; vfNumber
// reads both as decimal numbers and is never newer when either cannot be read.
bool isNewerVersion(const QString& installed, const QString& published, TVersionFormat format);

} // namespace taskhaul
