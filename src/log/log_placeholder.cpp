// Replaced as the activity log grows.
