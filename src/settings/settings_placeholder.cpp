// Replaced as the settings store grows.
