#pragma once

// A real FTP server for integration tests and benchmarks: Debian's pyftpdlib,
// started with /usr/bin/python3 on a free loopback port, serving a temporary
// folder to one user with a password and to anonymous users (read only).
//
//   PyFtpdServer server;                  // throws with a clear message when
//   server.writeFile("a.txt", "hello");   // python3-pyftpdlib is missing
//   client.SetHost(server.host()); client.SetPort(server.port());
//   client.SetUsername(server.user()); client.SetPassword(server.password());
//
// The server and its folder are gone when the object is destroyed.

#include "ftp/spawn.h"

#include <string>

namespace taskhaul::test {

class PyFtpdServer {
public:
    struct Options {
        std::string user = "taskhaul";
        std::string password = "s3cret pass";
        // An existing folder to serve instead of a fresh temporary one (kept at the end).
        std::string root;
        // pyftpdlib's max_cons: the sockets it keeps open at once (its listener,
        // control and data connections and passive listeners). Beyond it a new
        // control connection is greeted with 421 and a PASV answered with 425.
        int maxConnections = 64;
    };

    PyFtpdServer();
    explicit PyFtpdServer(Options options);
    ~PyFtpdServer();
    PyFtpdServer(const PyFtpdServer&) = delete;
    PyFtpdServer& operator=(const PyFtpdServer&) = delete;

    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    const std::string& user() const { return options_.user; }
    const std::string& password() const { return options_.password; }
    // The served folder, as a local path.
    const std::string& root() const { return root_; }

    // Creates a file (and its folders) under the served folder.
    void writeFile(const std::string& relativePath, const std::string& content) const;
    void makeFolder(const std::string& relativePath) const;

private:
    Options options_;
    std::string root_;
    std::string scratch_; // holds the script (and the root when it is temporary)
    bool ownsRoot_ = false;
    ServerProcess process_;
    int port_ = 0;
};

// Throws std::runtime_error with installation advice unless /usr/bin/python3 can
// import pyftpdlib.
void RequirePyftpdlib();

} // namespace taskhaul::test
