// Replaced by the name templates.
