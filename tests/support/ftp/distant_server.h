#pragma once

// A model of a server far away: distant_server.py, beside this file, relays the
// control connections of an FTP server on loopback and delivers everything the
// server sends on them a fixed delay late. Data connections go to the server
// directly (the replies that name them are passed unchanged).
//
// Model::Link is a truer link whose round trip is the delay: every byte both
// ways arrives half of it late, passive data connections go through the relay
// too and each costs a round trip to set up; Model::Tcp is the same link for a
// protocol the relay does not read (SSH).
//
//   PyFtpdServer server;
//   DistantServer distant(server.port(), std::chrono::milliseconds(25));
//   client.SetHost(distant.host()); client.SetPort(distant.port());
//
// The relay stops when the object is destroyed (and by itself when the test
// program ends).

#include "ftp/spawn.h"

#include <chrono>
#include <string>

namespace taskhaul::test {

class DistantServer {
public:
    enum class Model { Replies, Link, Tcp };

    explicit DistantServer(int serverPort, std::chrono::milliseconds delay = std::chrono::milliseconds(25),
        Model model = Model::Replies);

    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }
    std::chrono::milliseconds delay() const { return delay_; }

    // The relay script, for tests that start it themselves.
    static std::string Script();

private:
    std::chrono::milliseconds delay_;
    ServerProcess process_;
    int port_ = 0;
};

} // namespace taskhaul::test
