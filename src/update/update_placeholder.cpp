// Replaced by the update component.
