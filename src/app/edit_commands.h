#pragma once

#include "app/command_table.h"

#include <array>

class QAction;
class QStyle;

namespace taskhaul {

// Undo, Cut, Copy, Paste, Delete and Select All act on the focused text field
// (a line edit, or the text of a number or time field).
void runEditCommand(Command command);
// Enables each edit command when it can act on the focused text field.
void updateEditCommands(const std::array<QAction*, kCommandCount>& actions);

// Pictures for the commands shown on the toolbar.
void setCommandIcons(const std::array<QAction*, kCommandCount>& actions, const QStyle* style);

} // namespace taskhaul
