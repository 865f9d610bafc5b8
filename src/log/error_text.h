#pragma once

#include <QString>

namespace taskhaul {

// The text the error box shows for an error's message: a full stop is added
// when the last character sorts after "." in character code order: "Disk full"
// becomes "Disk full." while "Done.", "Stop!" and "(none)" stay as they are.
QString errorBoxText(const QString& message);

} // namespace taskhaul
