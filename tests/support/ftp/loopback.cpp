#include "ftp/loopback.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::test {

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

// A socket bound to a free loopback port, listening with `backlog` unless it is
// negative.
int BoundSocket(int backlog, int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || (backlog >= 0 && ::listen(fd, backlog) != 0)
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        throw std::runtime_error(std::string("loopback socket: ") + std::strerror(error));
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int ClosedLoopbackPort()
{
    int port = 0;
    ::close(BoundSocket(-1, port));
    return port;
}

SilentListener::SilentListener(int backlog)
{
    fd_ = BoundSocket(backlog, port_);
}

SilentListener::~SilentListener()
{
    if (filler_ >= 0)
        ::close(filler_);
    ::close(fd_);
}

void SilentListener::fillBacklog()
{
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port_);
    if (filler_ < 0 || ::connect(filler_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error(std::string("fill the backlog: ") + std::strerror(errno));
}

bool LoopbackAccepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

} // namespace taskhaul::test
