// Replaced as the FTP client grows.
