#pragma once

// Loopback sockets for tests of what a client does when nobody answers.

namespace taskhaul::test {

// A loopback port that was free a moment ago and has no listener now: a connect
// to it is refused.
int ClosedLoopbackPort();

// Whether a connect to the loopback port succeeds now: a server started by a
// test is ready.
bool LoopbackAccepts(int port);

// A loopback listener that never accepts. Connections wait in its backlog and
// no byte ever comes back; with fillBacklog(), further connects never complete
// at all.
class SilentListener {
public:
    explicit SilentListener(int backlog = 4);
    ~SilentListener();
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    int port() const { return port_; }
    // Takes the one place of a backlog of 0 (SilentListener(0)).
    void fillBacklog();

private:
    int fd_ = -1;
    int filler_ = -1;
    int port_ = 0;
};

} // namespace taskhaul::test
