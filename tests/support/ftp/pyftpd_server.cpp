#include "ftp/pyftpd_server.h"
#include "ftp/spawn.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

// Binds port 0 itself and prints the port it got, so that no port is guessed.
constexpr const char* kScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password, most = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
authorizer.add_anonymous(root, perm="elr")
class Handler(FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.banner = "pyftpdlib ready."
Handler.passive_ports = None
server = FTPServer(("127.0.0.1", 0), Handler)
server.max_cons = most
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
)PY";

} // namespace

void RequirePyftpdlib()
{
    if (::access(kPython, X_OK) != 0)
        throw std::runtime_error("/usr/bin/python3 is missing: install Debian's python3 and "
                                 "python3-pyftpdlib (scripts/setup.sh).");
    const int pid = Spawn({ kPython, "-c", "import pyftpdlib" }, -1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("pyftpdlib cannot be imported by /usr/bin/python3: install Debian's "
                                 "python3-pyftpdlib (scripts/setup.sh installs it).");
}

PyFtpdServer::PyFtpdServer()
    : PyFtpdServer(Options {})
{
}

PyFtpdServer::PyFtpdServer(Options options)
    : options_(std::move(options))
{
    RequirePyftpdlib();
    std::string pattern = (fs::temp_directory_path() / "taskhaul-pyftpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    scratch_ = pattern;
    if (options_.root.empty()) {
        root_ = scratch_ + "/root";
        fs::create_directory(root_);
        ownsRoot_ = true;
    } else {
        root_ = options_.root;
    }
    const std::string script = scratch_ + "/server.py";
    std::ofstream(script) << kScript;

    port_ = process_.Start(kPython,
        { script, root_, options_.user, options_.password, std::to_string(options_.maxConnections) });
}

PyFtpdServer::~PyFtpdServer()
{
    // The server goes before the folder it serves.
    process_.Stop();
    std::error_code ignored;
    if (!scratch_.empty())
        fs::remove_all(scratch_, ignored);
}

void PyFtpdServer::writeFile(const std::string& relativePath, const std::string& content) const
{
    const fs::path path = fs::path(root_) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("Cannot write " + path.string());
}

void PyFtpdServer::makeFolder(const std::string& relativePath) const
{
    fs::create_directories(fs::path(root_) / relativePath);
}

} // namespace taskhaul::test
