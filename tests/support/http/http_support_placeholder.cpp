// Replaced by the HTTP test server.
