// Replaced by the scripted FTP server.
