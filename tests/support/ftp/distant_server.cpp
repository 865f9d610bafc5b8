#include "ftp/distant_server.h"

#include <vector>

namespace taskhaul::test {

std::string DistantServer::Script()
{
    return TASKHAUL_DISTANT_SERVER_SCRIPT;
}

DistantServer::DistantServer(int serverPort, std::chrono::milliseconds delay, Model model)
    : delay_(delay)
{
    std::vector<std::string> arguments { Script(), "--server-port", std::to_string(serverPort), "--delay-ms",
        std::to_string(delay.count()) };
    if (model != Model::Replies)
        arguments.insert(arguments.end(), { "--link", "--protocol", model == Model::Link ? "ftp" : "tcp" });
    port_ = process_.Start("/usr/bin/python3", arguments);
}

} // namespace taskhaul::test
