// Replaced by the About window and the wildcard guide.
