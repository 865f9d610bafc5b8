// Replaced by the transfer engine.
