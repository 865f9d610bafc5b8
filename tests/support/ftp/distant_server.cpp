#include "ftp/distant_server.h"

namespace taskhaul::test {

std::string DistantServer::Script()
{
    return TASKHAUL_DISTANT_SERVER_SCRIPT;
}

DistantServer::DistantServer(int serverPort, std::chrono::milliseconds delay)
    : delay_(delay)
{
    port_ = process_.Start("/usr/bin/python3",
        { Script(), "--server-port", std::to_string(serverPort), "--delay-ms",
            std::to_string(delay.count()) });
}

} // namespace taskhaul::test
